% run_octave_test.m PLUGIN_DIR TEST_FILE: runs the %!test blocks of one test file against the
% plug-ins in PLUGIN_DIR and exits with a non-zero status when any block fails.
args = argv();
here = fileparts(mfilename('fullpath'));
addpath(args{1});
addpath(fullfile(here, '..', '..', 'examples'));
addpath(fullfile(here, '..', '..'));   % tulm_build
addpath(here);
[passed, total] = test(args{2}, 'quiet', stdout);
printf('%d passed, %d failed\n', passed, total - passed);
exit(double(total == 0 || passed != total));
