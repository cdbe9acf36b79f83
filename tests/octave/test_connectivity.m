% Table builders in a real Octave: the row-to-column convention, ans, messages as users see them.

%!shared faces, V
%! faces = int32([1 2 3; 1 3 4; 1 4 2; 2 4 3]);
%! V = int32(4);

%!test
%! nbrs = TULM_convertFaces2VertNbors(faces, V);
%! assert(class(nbrs), 'int32');
%! assert(size(nbrs), [12 1]);
%! table = reshape(nbrs, 4, []).';          % K x V column form, as other functions take it
%! assert(table, int32([2 1 1 1; 3 3 2 3; 4 4 4 2]));

%!test
%! vf = reshape(TULM_convertFaces2FacesOfVert(faces, V), 4, []).';
%! assert(vf, int32([1 1 1 2; 2 3 2 3; 3 4 4 4]));

%!test
%! TULM_convertFaces2VertNbors(faces, V);   % no output requested: the result goes to ans
%! assert(numel(ans), 12);

%!test
%! assert(size(TULM_convertFaces2VertNbors(zeros(0, 3, 'int32'), int32(5))), [0 1]);

%!test
%! % outputs of 1 MiB and more come from Octave's own zeros: each call gets an array of its own,
%! % of the right class and size, also as ans, and a table built a second time (a vertex with
%! % more neighbours than face corners) replaces the first
%! n = 100000;
%! expected = zeros(n, 3, 'int32');
%! expected(1:4, :) = [1 1 1 2; 2 3 2 3; 3 4 4 4].';
%! a = TULM_convertFaces2FacesOfVert(faces, int32(n));
%! b = TULM_convertFaces2FacesOfVert(faces, int32(n));
%! assert(a, expected(:));
%! a(1) = 99;
%! assert(b, expected(:));
%! TULM_convertFaces2VertNbors(faces, int32(n));
%! assert(ans(1:4), int32([2; 1; 1; 1]));
%! fan = int32([1 2 3; 1 3 4; 1 4 5; 1 5 6]);
%! nbrs = reshape(TULM_convertFaces2VertNbors(fan, int32(n)), n, []);
%! assert(size(nbrs), [n 5]);
%! assert(nbrs(1, :), int32(2:6));
%! assert(nnz(nbrs), 18);

%!test
%! % a zeros.m of the user's own on the path is never what a large output is made by
%! n = 100000;
%! folder = tempname();
%! mkdir(folder);
%! fid = fopen(fullfile(folder, 'zeros.m'), 'w');
%! fprintf(fid, 'function z = zeros(varargin)\n  z = ones(2, 2, ''int32'');\nend\n');
%! fclose(fid);
%! warning('off', 'Octave:shadowed-function', 'local');
%! addpath(folder);
%! unwind_protect
%!   a = TULM_convertFaces2FacesOfVert(faces, int32(n));
%! unwind_protect_cleanup
%!   rmpath(folder);
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(folder, 's');
%! end_unwind_protect
%! expected = zeros(n, 3, 'int32');
%! expected(1:4, :) = [1 1 1 2; 2 3 2 3; 3 4 4 4].';
%! assert(a, expected(:));

%!error <TULM_convertFaces2VertNbors: Two inputs required. Face matrix and number of vertices, both assumed to be of type int32> TULM_convertFaces2VertNbors(faces)
%!error <Too many output arguments> [a, b] = TULM_convertFaces2FacesOfVert(faces, V);
%!error <faces must be an int32 matrix \(got double\)> TULM_convertFaces2VertNbors(double(faces), V)
%!error <faces holds 9 at \(2, 3\), outside 1..4> TULM_convertFaces2FacesOfVert(int32([1 2 3; 1 3 9]), V)

%!test
%! [vertices, faces] = tulm_icosphere(3);
%! V = int32(size(vertices, 2));
%! nbrs = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%! vf = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%! assert(size(nbrs), [6 double(V)]);
%! assert(size(vf), [6 double(V)]);
%! % every neighbour relation is mutual, and every listed face has the vertex as a corner
%! for v = 1:double(V)
%!   for n = nbrs(nbrs(:, v) > 0, v).'
%!     assert(any(nbrs(:, n) == v));
%!   end
%!   for f = vf(vf(:, v) > 0, v).'
%!     assert(any(faces(:, f) == v));
%!   end
%! end

%!test
%! % help comes from the help file installed beside the plug-in
%! assert(! isempty(strfind(get_help_text('TULM_convertFaces2VertNbors'), 'Neighbour table')));
