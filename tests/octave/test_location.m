% Point location in a real Octave: icosphere tables from the builders in the form users pass
% them, rotated and jittered query points, messages as users see them.

%!shared vertices, faces, V, vertexNbors, VertexFaces
%! [vertices, faces] = tulm_icosphere(3);
%! V = int32(size(vertices, 2));
%! vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%! VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';

%!function inside = ray_hits(points, vertices, faces, face)
%! % The ray from the origin through each point crosses its face: the point is a non-negative
%! % combination of the corners. The walk's test admits points a hair beyond an edge
%! % (tolerance 1e-4 in the cosine), so weights down to -1e-3 count as inside.
%! inside = false(1, columns(points));
%! for i = 1:columns(points)
%!   w = double(vertices(:, faces(:, face(i)))) \ double(points(:, i));
%!   inside(i) = all(w > -1e-3);
%! end
%!endfunction

%!test
%! % rotated copy: seeds at the same index, nearest vertex by brute force
%! a = 0.03;
%! Rz = [cos(a) -sin(a) 0; sin(a) cos(a) 0; 0 0 1];
%! points = single(Rz * double(vertices));
%! [v, d] = TULM_findNearestVertex(points, vertices, vertexNbors, int32(1:double(V)));
%! assert(class(v), 'int32');
%! assert(class(d), 'single');
%! assert(size(v), [1 double(V)]);
%! d2 = sum(double(points).^2, 1).' + sum(double(vertices).^2, 1) - 2 * double(points).' * double(vertices);
%! [~, nearest] = min(d2, [], 2);
%! assert(double(v), nearest.');
%! assert(double(d), sqrt(sum((double(points) - double(vertices(:, v))).^2, 1)), 1e-6);
%! [face, corner] = TULM_findFaceAux(points, vertices, faces, vertexNbors, VertexFaces, v);
%! assert(class(face), 'int32');
%! assert(size(corner), [1 double(V)]);
%! assert(all(ray_hits(points, vertices, faces, face)));
%! assert(corner, v);

%!test
%! % jittered copy off the sphere, seeds continuing from the previous point (seed 0)
%! rand('seed', 3);
%! points = single(1.05 * double(vertices) + 0.01 * (rand(size(vertices)) - 0.5));
%! v = TULM_findNearestVertex(points, vertices, vertexNbors, zeros(1, double(V), 'int32'));
%! face = TULM_findFaceAux(points, vertices, faces, vertexNbors, VertexFaces, v);
%! assert(all(ray_hits(points, vertices, faces, face)));

%!test
%! % no output requested: the face goes to ans
%! TULM_findFaceAux(vertices(:, 1:2), vertices, faces, vertexNbors, VertexFaces, int32([1 2]));
%! assert(size(ans), [1 2]);
%! assert(all(ans > 0));

%!test
%! [face, corner] = TULM_findFaceAux(zeros(3, 0, 'single'), vertices, faces, vertexNbors, ...
%!                                   VertexFaces, zeros(1, 0, 'int32'));
%! assert(size(face), [1 0]);
%! assert(size(corner), [1 0]);

%!test
%! % a point whose seed lists no face: fallback after the visit limit, and one count line
%! noFaces = zeros(size(VertexFaces), 'int32');
%! text = evalc('[face, corner] = TULM_findFaceAux(single([0.6; 0.48; 0.64]), vertices, faces, vertexNbors, noFaces, int32(5));');
%! assert(text, sprintf('1 number of vertices exceed the max number of trials\n'));
%! assert(face, int32(0));
%! assert(corner, int32(5));

%!error <TULM_findFaceAux: Six inputs required: points, vertices, faces, vertexNbors, VertexFaces, seedVertices \(got 2\)> TULM_findFaceAux(single([1; 0; 0]), vertices)
%!error <TULM_findFaceAux: Point should be three dimensional!> TULM_findFaceAux(single([1; 0]), vertices, faces, vertexNbors, VertexFaces, int32(1))
%!error <TULM_findFaceAux: Inconsistent number of vertices!> TULM_findFaceAux(single([1; 0; 0]), vertices, faces, vertexNbors(:, 2:end), VertexFaces, int32(1))
%!error <TULM_findFaceAux: Numof points and number of seedVertices should be the same!> TULM_findFaceAux(single([1; 0; 0]), vertices, faces, vertexNbors, VertexFaces, int32([1 2]))
%!error <points must be a single matrix \(got double\)> TULM_findFaceAux([1; 0; 0], vertices, faces, vertexNbors, VertexFaces, int32(1))
%!error <seedVertices holds 643 at \(1, 1\), outside 1..642> TULM_findFaceAux(single([1; 0; 0]), vertices, faces, vertexNbors, VertexFaces, int32(643))
%!error <TULM_findNearestVertex: Four inputs required: points, vertices, vertexNbors, seedVertices \(got 3\)> TULM_findNearestVertex(single([1; 0; 0]), vertices, vertexNbors)
%!error <TULM_findNearestVertex: Number of poitns should be the same as # of seedVertices!> TULM_findNearestVertex(single([1; 0; 0]), vertices, vertexNbors, int32([1 1]))
%!error <vertexNbors must be an int32 matrix \(got double\)> TULM_findNearestVertex(single([1; 0; 0]), vertices, double(vertexNbors), int32(1))

%!test
%! assert(! isempty(strfind(get_help_text('TULM_findFaceAux'), 'projects from the origin')));
%! assert(! isempty(strfind(get_help_text('TULM_findNearestVertex'), 'greedy descent')));
