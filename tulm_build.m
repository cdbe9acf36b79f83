function tulm_build(outdir, names)
% TULM_BUILD  Compile the TULM plug-ins with mex, for this MATLAB or Octave.
%
%   tulm_build(outdir)          builds every function into the folder outdir
%   tulm_build(outdir, names)   builds only the functions named in the cell array names
%   tulm_build()                builds into build/mex beside this file
%
%   Each plug-in is compiled from its gateway mex/NAME.cpp and the shared sources it
%   includes, as C++17 with 64-bit array sizes and without fused multiply-adds, so that its
%   results are the same bits on every machine; it exports mexFunction only. The flags come
%   from build_flags.txt beside this file, which every build of the toolbox reads. The k-d
%   tree plug-ins share the library tulm_kdtree, built into outdir beside them, where they
%   load it from. Each help file goes beside its plug-in, and the contents page as tulm.m, so
%   `help NAME` and `help tulm` work.
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

  restore_flags = onCleanup(set_compile_environment(root));
  compile_flags = compiler_flags(root, {'compile'});
  plugin_link = linker_args(plugin_link_flags(root));
  % MATLAB's libut answers utIsInterruptPending, the plug-ins' question whether the user
  % pressed Ctrl-C; Octave's interrupt state comes with the libraries its mex links.
  host_libraries = {};
  if ~exist('OCTAVE_VERSION', 'builtin')
    host_libraries = {'-lut'};
  end
  objects = containers.Map();
  library_sources = kdtree_sources();
  kdtree = {};  % what links a plug-in to the k-d tree library, once that is built
  for k = 1:numel(names)
    name = names{k};
    gateway = fullfile(root, 'mex', [name '.cpp']);
    linked = {};
    libraries = {};
    for source = shared_sources(root, gateway)
      key = source{1};
      if strcmp(key, library_sources{1})
        if isempty(kdtree)
          kdtree = build_kdtree_library(root, outdir, objdir);
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
    mex(compile_flags{:}, gateway, linked{:}, libraries{:}, host_libraries{:}, plugin_link{:}, ...
        '-output', ...
        fullfile(outdir, name));
    copyfile(fullfile(root, 'mex', [name '.m']), outdir);
    fprintf('built %s\n', name);
  end
  copyfile(fullfile(root, 'mex', 'Contents.m'), fullfile(outdir, 'Contents.m'));
  copyfile(fullfile(root, 'mex', 'Contents.m'), fullfile(outdir, 'tulm.m'));
end

% The sources of the k-d tree library; CMakeLists.txt and package/Makefile list the same. A
% gateway reaches the library through kdtree.h, whose kdtree.cpp comes first.
function sources = kdtree_sources()
  sources = strcat('core/spatial_search/', {'kdtree.cpp', 'fast_build.cpp', 'exact_order.cpp', ...
                                            'rank_sort.cpp', 'build_scratch.cpp'});
end

% The .cpp files of core/ and gateway/ whose headers the gateway includes, directly or not. What
% only the k-d tree library's kdtree.cpp includes is the library's, not the gateway's.
function sources = shared_sources(root, gateway)
  sources = {};
  library_sources = kdtree_sources();
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
        if ~strcmp(source, library_sources{1})
          pending{end + 1} = fullfile(root, source);  %#ok<AGROW>
        end
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
function link = build_kdtree_library(root, outdir, objdir)
  flags = compiler_flags(root, {'compile', 'kdtree_compile'});
  objects = {};
  for source = kdtree_sources()
    [~, stem] = fileparts(source{1});
    objects{end + 1} = compile(flags, fullfile(root, source{1}), objdir, ...
                               ['tulm_kdtree_' stem]);  %#ok<AGROW>
  end
  if ismac
    file = 'libtulm_kdtree.dylib';
    own = {['-Wl,-install_name,@rpath/' file]};
  elseif ispc
    file = 'tulm_kdtree.dll';  % MinGW-w64 links the DLL itself; MSVC needs its import library
    own = {};
  else
    file = 'libtulm_kdtree.so';
    own = {['-Wl,-soname,' file]};
  end
  rpath = cellfun(@(folder) ['-Wl,-rpath,' folder], build_flags(root, 'kdtree_rpath'), ...
                  'UniformOutput', false);
  args = linker_args([own, build_flags(root, 'kdtree_link')]);
  if ~exist('OCTAVE_VERSION', 'builtin')
    args = [{'LINKEXPORT=', 'LINKEXPORTVER='}, args];  % no mexFunction to export
  end
  % mex names what it links NAME.mexext; the plug-ins look for the library's own name.
  mex(flags{:}, objects{:}, args{:}, '-output', fullfile(objdir, 'tulm_kdtree'));
  movefile(fullfile(objdir, ['tulm_kdtree.' mexext()]), fullfile(outdir, file));
  link = [{['-L' outdir], '-ltulm_kdtree'}, linker_args(rpath)];
end

% Linker flags as mex takes them. Octave's mex passes them on as they are, through two shells,
% so a $ is escaped twice; MATLAB's takes them in its linker variable, through one.
function args = linker_args(flags)
  if exist('OCTAVE_VERSION', 'builtin')
    args = strrep(flags, '$', '\\\$');
  elseif isempty(flags)
    args = {};
  else
    variable = 'LDFLAGS';
    if strcmp(compiler_family(), 'msvc')
      variable = 'LINKFLAGS';
    end
    args = {strjoin([{[variable '=$' variable]}, strrep(flags, '$', '\$')], ' ')};
  end
end

% The flags a plug-in is linked with. Octave's mex adds no export rule of its own; MATLAB's
% keeps its own, which exports mexFunction and the API version MATLAB reads.
function flags = plugin_link_flags(root)
  flags = build_flags(root, 'plugin_link');
  if exist('OCTAVE_VERSION', 'builtin')
    flags = [build_flags(root, 'plugin_exports'), flags];
  end
end

% Octave's mex takes -std only from CXXFLAGS in the environment, so the compile line of
% build_flags.txt goes there; returns the function that puts the environment back.
function restore = set_compile_environment(root)
  restore = @() [];
  if exist('OCTAVE_VERSION', 'builtin')
    old = getenv('CXXFLAGS');
    base = old;
    if isempty(base)
      base = mkoctfile('-p', 'CXXFLAGS');
    end
    setenv('CXXFLAGS', strjoin([{strtrim(base)}, build_flags(root, 'compile')], ' '));
    restore = @() setenv('CXXFLAGS', old);
  end
end

% Flags for mex that compile as the given roles of build_flags.txt say, 'compile' first. In
% Octave the compile line is in the environment already and the other roles hold -f and -D
% flags, which its mex passes on; MATLAB's mex takes them all in its compiler variable.
function flags = compiler_flags(root, roles)
  if exist('OCTAVE_VERSION', 'builtin')
    flags = [{['-I' root]}, role_flags(root, roles(2:end))];
  else
    variable = 'CXXFLAGS';
    if strcmp(compiler_family(), 'msvc')
      variable = 'COMPFLAGS';
    end
    % -R2017b: the separate-complex API with 64-bit sizes that the gateways use, named
    % rather than left to mex, whose default is -R2018a.
    flags = {'-R2017b', ['-I' root], ...
             strjoin([{[variable '=$' variable]}, role_flags(root, roles)], ' ')};
  end
end

function flags = role_flags(root, roles)
  flags = {};
  for k = 1:numel(roles)
    flags = [flags, build_flags(root, roles{k})];  %#ok<AGROW>
  end
end

% The flags of the line FAMILY_ROLE of build_flags.txt for the compiler mex uses here, with
% {root} standing for the folder of this file.
function flags = build_flags(root, role)
  key = [compiler_family() '_' role];
  text = fileread(fullfile(root, 'build_flags.txt'));
  value = regexp(text, ['^' key ' *=([^\n]*)$'], 'tokens', 'once', 'lineanchors');
  if isempty(value)
    error('tulm_build: build_flags.txt has no line %s', key);
  end
  flags = strsplit(strtrim(value{1}), ' ');
  flags = strrep(flags(~cellfun(@isempty, flags)), '{root}', root);
end

% gnu, macos, mingw or msvc: the family of compiler and linker that mex uses here.
function family = compiler_family()
  if ismac
    family = 'macos';
  elseif ~ispc
    family = 'gnu';
  elseif exist('OCTAVE_VERSION', 'builtin')
    family = 'mingw';  % Octave for Windows builds with the MinGW-w64 it comes with
  else
    compiler = mex.getCompilerConfigurations('C++', 'Selected');
    if strcmp(compiler.Manufacturer, 'Microsoft')
      family = 'msvc';
    else
      family = 'mingw';
    end
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
