% Plug-ins that share their work among threads, in a real Octave: each keeps its workers
% between calls, Octave's `clear` joins them before it unloads the plug-in, the plug-in works
% again after it, and a session that ends with workers started ends cleanly.

%!shared vertices, faces, F, areas, total, listed
%! [vertices, faces] = tulm_icosphere(7);
%! F = int32(size(faces, 2));
%! old = getenv('TULM_NUM_THREADS');
%! setenv('TULM_NUM_THREADS', '1');
%! areas = TULM_computeMeshFaceAreas(F, faces, vertices);
%! total = TULM_calculateSurfaceArea(vertices.', faces.');
%! setenv('TULM_NUM_THREADS', old);
%! listed = exist('/proc/self/task', 'dir') == 7;  % the system lists this Octave's threads

%!test
%! % three threads: two workers per plug-in, kept through calls, joined by each way of clearing
%! old = getenv('TULM_NUM_THREADS');
%! unwind_protect
%!   setenv('TULM_NUM_THREADS', '3');
%!   clears = {@() clear('TULM_computeMeshFaceAreas', 'TULM_calculateSurfaceArea'), ...
%!             @() clear('functions')};
%!   for round = 1:4
%!     before = numel(glob('/proc/self/task/*'));
%!     for k = 1:3
%!       assert(TULM_computeMeshFaceAreas(F, faces, vertices), areas);
%!       assert(TULM_calculateSurfaceArea(vertices.', faces.'), total);
%!     end
%!     if listed
%!       assert(numel(glob('/proc/self/task/*')), before + 4);
%!     end
%!     feval(clears{mod(round, 2) + 1});
%!     if listed
%!       assert(numel(glob('/proc/self/task/*')), before);
%!     end
%!   end
%! unwind_protect_cleanup
%!   setenv('TULM_NUM_THREADS', old);
%! end_unwind_protect

%!test
%! % another Octave makes threaded calls and exits with its workers started
%! octave = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
%! if !exist(octave, 'file')
%!   octave = 'octave-cli';
%! end
%! script = sprintf(['addpath(''%s''); addpath(''%s''); setenv(''TULM_NUM_THREADS'', ''2''); ' ...
%!                   '[v, f] = tulm_icosphere(7); V = int32(size(v, 2)); ' ...
%!                   'a = TULM_computeMeshFaceAreas(int32(size(f, 2)), f, v); ' ...
%!                   'T = TULM_convertFaces2VertNbors(f.'', V); ' ...
%!                   'P = TULM_computeFoldPenalty(v, f, reshape(TULM_convertFaces2FacesOfVert(f.'', V), V, []).'', 0.01); ' ...
%!                   'disp(numel(a) + numel(T)); exit(0)'], ...
%!                  fileparts(which('TULM_computeMeshFaceAreas')), fileparts(which('tulm_icosphere')));
%! [status, output] = system(sprintf('"%s" --no-gui --norc --no-history --quiet --eval "%s"', ...
%!                                   octave, script));
%! assert(status, 0, output);
%! assert(strtrim(output), num2str(double(F) + 6 * (double(F) / 2 + 2)));
