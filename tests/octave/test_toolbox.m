% The toolbox as users get it: the build script for their own Octave or MATLAB, and the Octave
% package. Both build every plug-in from source, so these blocks take a little while.

%!shared root, faces
%! root = fullfile(fileparts(which('run_octave_test')), '..', '..');
%! faces = int32([1 2 3; 1 3 4; 1 4 2; 2 4 3]);

%!function run_example(code)
%! % In a workspace of its own, as a user would run it.
%! evalc(code);
%!endfunction

%!function check_kept_tree(plugins)
%! % The k-d tree plug-ins in folder plugins: the library stands beside them, where a process
%! % that loads them finds it (in this process the library loaded first serves every plug-in,
%! % so ldd shows where a fresh one looks), and a kept tree works across the three and outlives
%! % their clear.
%! library = fullfile(plugins, 'libtulm_kdtree.so');
%! assert(exist(library, 'file'), 2);
%! clear nearestIndexSearch nearestPointSearch radiusPointSearch   % found again on the path
%! for name = {'nearestPointSearch', 'nearestIndexSearch', 'radiusPointSearch'}
%!   plugin = which(name{1});
%!   assert(plugin, fullfile(plugins, [name{1} '.mex']));
%!   [~, found] = system(sprintf('ldd "%s"', plugin));
%!   assert(! isempty(strfind(found, ['libtulm_kdtree.so => ' library])));
%! end
%! [~, ~, T] = nearestIndexSearch([2 3; 5 4; 9 6], zeros(0, 2));
%! clear nearestIndexSearch nearestPointSearch radiusPointSearch
%! assert(radiusPointSearch(T, [5 4], 0), [5 4]);
%! assert(nearestPointSearch([], [9 5], T), [9 6]);   % fewer than three outputs: released
%! try
%!   radiusPointSearch(T, [5 4], 0);
%!   error('a released tree was searched');
%! catch err
%!   assert(err.message, 'radiusPointSearch: First argument must be a valid pointer to a k-D tree');
%! end
%!endfunction

%!function names = exported(file)
%! % The names of the functions and data the shared object file exports, demangled.
%! [status, symbols] = system(sprintf('nm -DC --defined-only "%s"', file));
%! assert(status, 0);
%! names = regexp(symbols, '^\w+ \w ([\w:]+)', 'tokens', 'lineanchors');
%! names = sort(cellfun(@(name) name{1}, names, 'UniformOutput', false));
%!endfunction

%!function check_exports(plugins)
%! % Every plug-in in folder plugins exports mexFunction only and the k-d tree library its API
%! % only, so that no two of them bind to each other's copies of the shared code.
%! for plugin = dir(fullfile(plugins, '*.mex')).'
%!   assert(exported(fullfile(plugins, plugin.name)), {'mexFunction'});
%! end
%! assert(exported(fullfile(plugins, 'libtulm_kdtree.so')), ...
%!        {'tulm::allocate_search_copy', 'tulm::build_tree', 'tulm::find_kept_tree', ...
%!         'tulm::keep_tree', 'tulm::kept_tree_count', 'tulm::release_tree'});
%!endfunction

%!test
%! % Every function has help with an H1 line, its errors and an example, and the example runs.
%! helps = dir(fullfile(root, 'mex', '*.m'));
%! names = setdiff({helps.name}, {'Contents.m'});
%! assert(numel(names), numel(dir(fullfile(root, 'mex', '*.cpp'))));
%! contents = get_help_text('tulm');
%! for k = 1:numel(names)
%!   name = names{k}(1:end - 2);
%!   text = get_help_text(name);
%!   assert(strncmp(strtrim(text), name, numel(name)), [name ': no H1 line']);
%!   assert(! isempty(strfind(contents, name)), [name ': not in the contents']);
%!   assert(! isempty(regexp(text, 'Errors|Error texts|Messages', 'once')), [name ': no errors']);
%!   example = regexp(text, 'Example\s*\n(.*?)\n\s*\n', 'tokens', 'once');
%!   assert(! isempty(example), [name ': no example']);
%!   run_example(example{1});
%! end


%!test
%! % The README's worked example runs as it stands.
%! readme = fileread(fullfile(root, 'README.md'));
%! example = regexp(readme, '## A worked example\s*```matlab\n(.*?)```', 'tokens', 'once');
%! assert(! isempty(example));
%! run_example(example{1});

%!test
%! outdir = tempname();
%! unwind_protect
%!   evalc('tulm_build(outdir)');
%!   built = dir(fullfile(outdir, '*.mex'));
%!   assert(numel(built), numel(dir(fullfile(root, 'mex', '*.cpp'))));
%!   % the plug-ins of the build script give the same answers as those of the CMake build
%!   here = pwd();
%!   cd(outdir);
%!   unwind_protect
%!     nbrs = TULM_convertFaces2VertNbors(faces, int32(4));
%!     help_text = get_help_text('TULM_convertFaces2VertNbors');
%!     contents = get_help_text('tulm');
%!     check_kept_tree(outdir);
%!     check_exports(outdir);
%!   unwind_protect_cleanup
%!     cd(here);
%!   end_unwind_protect
%!   assert(nbrs, TULM_convertFaces2VertNbors(faces, int32(4)));
%!   assert(! isempty(strfind(help_text, 'Neighbour table')));
%!   assert(! isempty(strfind(contents, 'TULM_convertFaces2FacesOfVert')));
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(outdir, 's');
%! end_unwind_protect

%!test
%! work = tempname();
%! mkdir(work);
%! unwind_protect
%!   [status, tarball] = system(sprintf('"%s" "%s"', fullfile(root, 'scripts', 'make_dist'), work));
%!   assert(status, 0);
%!   pkg('prefix', fullfile(work, 'prefix'), fullfile(work, 'arch'));
%!   pkg('local_list', fullfile(work, 'packages'));
%!   pkg('install', strtrim(tarball));
%!   pkg('load', 'tulm');
%!   vf = TULM_convertFaces2FacesOfVert(faces, int32(4));
%!   assert(reshape(vf, 4, []).', int32([1 1 1 2; 2 3 2 3; 3 4 4 4]));
%!   assert(! isempty(strfind(which('TULM_convertFaces2FacesOfVert'), fullfile(work, 'arch'))));
%!   assert(! isempty(strfind(get_help_text('TULM_convertFaces2FacesOfVert'), 'Faces-of-vertex')));
%!   [vertices, ico] = tulm_icosphere(1);
%!   assert(size(vertices), [3 42]);
%!   area = TULM_calculateSurfaceArea(vertices.', ico.');
%!   assert(abs(double(area) - 4 * pi) < 1.5);
%!   VF = reshape(TULM_convertFaces2FacesOfVert(ico.', int32(42)), 42, []).';
%!   assert(TULM_computeFoldPenalty(vertices, ico, VF, 1), single(0));
%!   assert(nearestIndexSearch(double(vertices).', double(vertices(:, 7)).'), 7);
%!   check_kept_tree(fileparts(which('nearestIndexSearch')));
%!   check_exports(fileparts(which('nearestIndexSearch')));
%!   pkg('unload', 'tulm');
%!   pkg('uninstall', 'tulm');
%!   assert(isempty(pkg('list')));
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(work, 's');
%! end_unwind_protect
