% Ring neighbourhoods in a real Octave, on the table in the column form users pass.

%!shared vertexNbors, V, K
%! [vertices, faces] = tulm_icosphere(2);
%! V = int32(size(vertices, 2));
%! vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%! K = int32(size(vertexNbors, 1));

%!test
%! octa = int32([2 3 4 5; 1 3 5 6; 1 2 4 6; 1 3 5 6; 1 2 4 6; 2 3 4 5].');
%! assert(TULM_findNeighborhoodGivenRadius(int32(4), int32(6), int32(1), int32(0), octa), int32(1));
%! assert(TULM_findNeighborhoodGivenRadius(int32(4), int32(6), int32(1), int32(1), octa), int32(1:5));
%! assert(TULM_findNeighborhoodGivenRadius(int32(4), int32(6), int32(1), int32(2), octa), int32(1:6));
%! assert(TULM_findNeighborhoodGivenRadius(int32(4), int32(6), int32(2), int32(1), octa), int32([1 2 3 5 6]));
%! assert(size(TULM_findNeighborhoodGivenRadius(int32(4), int32(0), int32(1), int32(1), int32([]))), [1 0]);

%!test
%! % rings grow like a breadth-first search over the table
%! reached = int32(7);
%! for radius = 1:4
%!   ring = TULM_findNeighborhoodGivenRadius(K, V, int32(7), int32(radius), vertexNbors);
%!   nbrs = vertexNbors(:, reached);
%!   expected = unique([reached(:); nbrs(nbrs > 0)]).';
%!   assert(ring, expected);
%!   reached = ring;
%! end
%! TULM_findNeighborhoodGivenRadius(K, V, int32(7), int32(1), vertexNbors);
%! assert(numel(ans), 6);        % vertex 7 is a corner of the icosahedron: 5 neighbours

%!error <TULM_findNeighborhoodGivenRadius: Five inputs required. maxNeighbors \(int32\), numVerts \(int32\), vertex \(int32\), radius \(int32\), vertexNbors \(int \*\)> TULM_findNeighborhoodGivenRadius(K, V, int32(1), int32(1))
%!error <Too many output arguments> [a, b] = TULM_findNeighborhoodGivenRadius(K, V, int32(1), int32(1), vertexNbors);
%!error <vertex holds 163 at \(1, 1\), outside 1..162> TULM_findNeighborhoodGivenRadius(K, V, int32(163), int32(1), vertexNbors)
%!error <vertex must be an int32 scalar \(got double\)> TULM_findNeighborhoodGivenRadius(K, V, 1, int32(1), vertexNbors)
%!error <vertexNbors must be at least 6 x 162 \(got 162 x 6\)> TULM_findNeighborhoodGivenRadius(K, V, int32(1), int32(1), vertexNbors.')

%!test
%! assert(! isempty(strfind(get_help_text('TULM_findNeighborhoodGivenRadius'), 'ring')));
