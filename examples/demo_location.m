function demo_location(mesh)
% DEMO_LOCATION  Locate the vertices of a slightly rotated copy of the mesh on the mesh.
%   Seeds from TULM_findNearestVertex (started at the unrotated vertex of the same index),
%   then the face each point projects into from TULM_findFaceAux; prints timings, how many
%   points needed the fallbacks, and how many faces the ray from the origin really crosses.
  V = size(mesh.vertices, 2);
  printf('== Point location\n');
  axis = [1; 2; 2] / 3;
  angle = 0.02;
  K = [0 -axis(3) axis(2); axis(3) 0 -axis(1); -axis(2) axis(1) 0];
  rotation = eye(3) + sin(angle) * K + (1 - cos(angle)) * K * K;
  points = single(rotation * double(mesh.vertices));
  printf('%d query points: the vertices rotated by %.2f rad\n', V, angle);

  tic;
  said = evalc('[seed, distance] = TULM_findNearestVertex(points, mesh.vertices, mesh.vertexNbors, int32(1:V));');
  t_nearest = toc;
  random_lines = numel(strfind(said, 'RANDOM:'));
  problem_lines = numel(strfind(said, 'Problem vertex'));
  printf('TULM_findNearestVertex: %6.3f us per point; %d points needed 100 or more random restarts, %d gave up\n', ...
         1e6 * t_nearest / V, random_lines, problem_lines);
  sample = 1:97:V;                          % brute-force check on a sample
  d2 = sum(double(points(:, sample)) .^ 2, 1).' + sum(double(mesh.vertices) .^ 2, 1) ...
       - 2 * double(points(:, sample)).' * double(mesh.vertices);
  [~, nearest] = min(d2, [], 2);
  printf('  nearest vertex by brute force on %d sampled points: %d agree; mean distance %.4f\n', ...
         numel(sample), sum(nearest.' == double(seed(sample))), mean(distance));

  tic;
  said = evalc('[face, corner] = TULM_findFaceAux(points, mesh.vertices, mesh.faces, mesh.vertexNbors, mesh.VertexFaces, seed);');
  t_face = toc;
  limit = regexp(said, '(\d+) number of vertices exceed', 'tokens', 'once');
  if isempty(limit)
    limit = 0;
  else
    limit = str2double(limit{1});
  end
  printf('TULM_findFaceAux:       %6.3f us per point; %d points hit the visit limit\n', ...
         1e6 * t_face / V, limit);

  % The ray from the origin crosses the face when the point is a non-negative combination of
  % its corners; the walk's tolerance admits points a hair beyond an edge.
  A = double(mesh.vertices(:, mesh.faces(1, face)));
  B = double(mesh.vertices(:, mesh.faces(2, face)));
  C = double(mesh.vertices(:, mesh.faces(3, face)));
  P = double(points);
  w = [dot(P, cross(B, C)); dot(P, cross(C, A)); dot(P, cross(A, B))] ./ dot(A, cross(B, C));
  w = w ./ sum(w, 1);
  printf('  ray crosses the face: %d strictly inside, %d on an edge within tolerance, %d outside\n', ...
         sum(min(w) > 0), sum(min(w) <= 0 & min(w) > -1e-3), sum(min(w) <= -1e-3));
  printf('  nearest corner equals the nearest-vertex seed for %d of %d points\n\n', ...
         sum(corner == seed), V);
end
