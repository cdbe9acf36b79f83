% run_octave_test.m PLUGIN_DIR TEST_FILE...: runs the %!test blocks of the test files against
% the plug-ins in PLUGIN_DIR and exits with a non-zero status when any block fails.
args = argv();
here = fileparts(mfilename('fullpath'));
addpath(args{1});
addpath(fullfile(here, '..', '..', 'examples'));
addpath(fullfile(here, '..', '..'));   % tulm_build
addpath(here);
passed = 0;
total = 0;
for k = 2:numel(args)
  [p, t] = test(args{k}, 'quiet', stdout);
  passed += p;
  total += t;
end
printf('%d passed, %d failed\n', passed, total - passed);
exit(double(total == 0 || passed != total));
