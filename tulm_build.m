function tulm_build(outdir, names)
% TULM_BUILD  Compile the TULM plug-ins with mex, for this MATLAB or Octave.
%
%   tulm_build(outdir)          builds every function into the folder outdir
%   tulm_build(outdir, names)   builds only the functions named in the cell array names
%   tulm_build()                builds into build/mex beside this file
%
%   Each plug-in is compiled from its gateway mex/NAME.cpp and the shared sources it
%   includes, as C++17 with 64-bit array sizes and without fused multiply-adds, so that its
%   results are the same bits on every machine. The k-d tree plug-ins share the library
%   tulm_kdtree, built into outdir beside them, where they load it from. Each help file goes
%   beside its plug-in, and the contents page as tulm.m, so `help NAME` and `help tulm` work.
%   Afterwards:
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
  kdtree = {};  % what links a plug-in to the k-d tree library, once that is built
  for k = 1:numel(names)
    name = names{k};
    gateway = fullfile(root, 'mex', [name '.cpp']);
    linked = {};
    libraries = {};
    for source = shared_sources(root, gateway)
      key = source{1};
      if strcmp(key, 'core/spatial_search/kdtree.cpp')
        if isempty(kdtree)
          kdtree = build_kdtree_library(root, outdir, objdir, compile_flags);
        end
        libraries = kdtree;
        continue;
      end
      if ~isKey(objects, key)
        objects(key) = compile(compile_flags, fullfile(root, key), objdir, ...
                               strrep(key(1:end - 4), '/', '_'));
      end
      linked{end + 1} = objects(key);  %#ok<AGROW>
    end
    mex(compile_flags{:}, gateway, linked{:}, libraries{:}, '-output', fullfile(outdir, name));
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

% Builds the k-d tree library into outdir and returns the mex arguments that link a plug-in to
% it. Every tree is built, kept and released in this library, never in a plug-in, so the k-d
% tree plug-ins share one heap and one registry of kept trees. It exports its API only, and on
% Linux it is never unloaded, so kept trees survive `clear` of every plug-in. A plug-in finds
% it in its own folder: through the rpath $ORIGIN on Linux, @loader_path on macOS; Windows has
% no rpath and looks in the folder of the DLL being loaded only when the host loads it with an
% altered search path, as MATLAB does for MEX files, else in the application's folder and on
% PATH. Only the Linux branch in Octave is run by our tests; the others follow the linkers'
% and mex's documentation.
function link = build_kdtree_library(root, outdir, objdir, flags)
  here = fullfile(root, 'core', 'spatial_search');
  object = compile([flags {'-DTULM_KDTREE_BUILD'}], fullfile(here, 'kdtree.cpp'), objdir, ...
                   'tulm_kdtree');
  if ismac
    file = 'libtulm_kdtree.dylib';
    own = {['-Wl,-install_name,@rpath/' file]};
    rpath = {'-Wl,-rpath,@loader_path'};
  elseif ispc
    file = 'tulm_kdtree.dll';  % MinGW-w64 links the DLL itself; MSVC needs its import library
    own = {};
    rpath = {};
  else
    file = 'libtulm_kdtree.so';
    own = {['-Wl,-soname,' file], ...
           ['-Wl,--version-script=' fullfile(here, 'kdtree_exports.map')], ...
           '-Wl,-Bsymbolic', '-Wl,-z,nodelete'};
    rpath = {'-Wl,-rpath,$ORIGIN'};
  end
  args = linker_args(own);
  if ~exist('OCTAVE_VERSION', 'builtin')
    args = [{'LINKEXPORT=', 'LINKEXPORTVER='}, args];  % no mexFunction to export
  end
  % mex names what it links NAME.mexext; the plug-ins look for the library's own name.
  mex(flags{:}, object, args{:}, '-output', fullfile(objdir, 'tulm_kdtree'));
  movefile(fullfile(objdir, ['tulm_kdtree.' mexext()]), fullfile(outdir, file));
  link = [{['-L' outdir], '-ltulm_kdtree'}, linker_args(rpath)];
end

% Linker flags as mex takes them. Octave's mex passes them on as they are, through two shells,
% so a $ is escaped twice; MATLAB's takes them in its LDFLAGS variable, through one.
function args = linker_args(flags)
  if exist('OCTAVE_VERSION', 'builtin')
    args = strrep(flags, '$', '\\\$');
  elseif isempty(flags)
    args = {};
  else
    args = {['LDFLAGS=$LDFLAGS ' strjoin(strrep(flags, '$', '\$'), ' ')]};
  end
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
