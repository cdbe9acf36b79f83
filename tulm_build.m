function tulm_build(outdir, names)
% TULM_BUILD  Compile the TULM plug-ins with mex, for this MATLAB or Octave.
%
%   tulm_build(outdir)          builds every function into the folder outdir
%   tulm_build(outdir, names)   builds only the functions named in the cell array names
%   tulm_build()                builds into build/mex beside this file
%
%   Each plug-in is compiled from its gateway mex/NAME.cpp and the shared sources it
%   includes, as C++17 with 64-bit array sizes and without fused multiply-adds, so that its
%   results are the same bits on every machine. Each help file goes beside its plug-in, and
%   the contents page as tulm.m, so `help NAME` and `help tulm` work. Afterwards:
%     addpath(outdir)
%
%   Run it from any folder; it needs a C++17 compiler that mex is set up for
%   (`mex -setup C++` in MATLAB).
  root = fileparts(mfilename('fullpath'));
  if nargin < 1 || isempty(outdir)
    outdir = fullfile(root, 'build', 'mex');
  end
  if nargin < 2
    gateways = dir(fullfile(root, 'mex', '*.cpp'));
    names = cellfun(@(n) n(1:end - 4), {gateways.name}, 'UniformOutput', false);
  end
  if ~exist(outdir, 'dir')
    mkdir(outdir);
  end
  objdir = tempname();
  mkdir(objdir);
  cleanup = onCleanup(@() rmdir(objdir, 's'));

  [compile_flags, restore] = compiler_flags(root);
  restore_flags = onCleanup(restore);
  objects = containers.Map();
  for k = 1:numel(names)
    name = names{k};
    gateway = fullfile(root, 'mex', [name '.cpp']);
    linked = {};
    for source = shared_sources(root, gateway)
      key = source{1};
      if ~isKey(objects, key)
        objects(key) = compile(compile_flags, fullfile(root, key), objdir, ...
                               strrep(key(1:end - 4), '/', '_'));
      end
      linked{end + 1} = objects(key);  %#ok<AGROW>
    end
    mex(compile_flags{:}, gateway, linked{:}, '-output', fullfile(outdir, name));
    copyfile(fullfile(root, 'mex', [name '.m']), outdir);
    fprintf('built %s\n', name);
  end
  copyfile(fullfile(root, 'mex', 'Contents.m'), fullfile(outdir, 'Contents.m'));
  copyfile(fullfile(root, 'mex', 'Contents.m'), fullfile(outdir, 'tulm.m'));
end

% The .cpp files of core/ and gateway/ whose headers the gateway includes, directly or not.
function sources = shared_sources(root, gateway)
  sources = {};
  seen = containers.Map();
  pending = {gateway};
  while ~isempty(pending)
    file = pending{end};
    pending(end) = [];
    text = fileread(file);
    includes = regexp(text, '#include "((?:core|gateway)/[^"]+)"', 'tokens');
    for k = 1:numel(includes)
      header = includes{k}{1};
      if isKey(seen, header)
        continue;
      end
      seen(header) = true;
      pending{end + 1} = fullfile(root, header);  %#ok<AGROW>
      source = [header(1:end - 2) '.cpp'];
      if exist(fullfile(root, source), 'file')
        sources{end + 1} = source;  %#ok<AGROW>
        pending{end + 1} = fullfile(root, source);  %#ok<AGROW>
      end
    end
  end
  sources = unique(sources);
end

% Flags for mex, and a function that undoes any change to the environment.
function [flags, restore] = compiler_flags(root)
  restore = @() [];
  if exist('OCTAVE_VERSION', 'builtin')
    % Octave's mex reads extra compiler flags from the environment.
    old = getenv('CXXFLAGS');
    base = old;
    if isempty(base)
      base = mkoctfile('-p', 'CXXFLAGS');
    end
    setenv('CXXFLAGS', [strtrim(base) ' -std=c++17 -ffp-contract=off -fno-fast-math']);
    restore = @() setenv('CXXFLAGS', old);
    flags = {['-I' root]};
  elseif ispc
    flags = {'-largeArrayDims', ['-I' root], 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise'};
  else
    flags = {'-largeArrayDims', ['-I' root], ...
             'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off -fno-fast-math'};
  end
end

% Compiles one shared source into objdir/stem.o (.obj with MATLAB on Windows).
function object = compile(flags, source, objdir, stem)
  if exist('OCTAVE_VERSION', 'builtin')
    object = fullfile(objdir, [stem '.o']);
    mex(flags{:}, '-c', source, '-o', object);
  else
    suffix = '.o';
    if ispc
      suffix = '.obj';
    end
    mex(flags{:}, '-c', source, '-outdir', objdir);
    [~, base] = fileparts(source);
    object = fullfile(objdir, [stem suffix]);
    movefile(fullfile(objdir, [base suffix]), object);
  end
end
