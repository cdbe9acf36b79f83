function mesh = demo_connectivity(vertices, faces)
% DEMO_CONNECTIVITY  Both table builders, with the conversion every later step needs.
%   Returns the mesh with its tables in column form (K x V), as the other functions take them.
  V = int32(size(vertices, 2));
  printf('== Connectivity tables\n');

  % The builders take the faces in row form, F x 3.
  rowFaces = faces.';
  nbrs = TULM_convertFaces2VertNbors(rowFaces, V);
  vf = TULM_convertFaces2FacesOfVert(rowFaces, V);
  % Times of a call once the plug-in is loaded and the process has its memory: the best of 3.
  t_nbrs = best_time(@() TULM_convertFaces2VertNbors(rowFaces, V));
  t_vf = best_time(@() TULM_convertFaces2FacesOfVert(rowFaces, V));

  % The builders return the V x K row-form table flattened; everything else takes K x V.
  vertexNbors = reshape(nbrs, V, []).';
  VertexFaces = reshape(vf, V, []).';
  K = size(vertexNbors, 1);
  degree = sum(vertexNbors > 0, 1);

  printf('V = %d, F = %d, K = %d\n', V, size(faces, 2), K);
  printf('TULM_convertFaces2VertNbors:   %7.2f ms\n', 1000 * t_nbrs);
  printf('TULM_convertFaces2FacesOfVert: %7.2f ms\n', 1000 * t_vf);
  printf('degree histogram:');
  for d = unique(degree)
    printf('  %d neighbours: %d vertices', d, sum(degree == d));
  end
  printf('\n');
  v = 100;
  printf('vertex %d: neighbours %s; faces %s\n\n', v, mat2str(vertexNbors(:, v).'), ...
         mat2str(VertexFaces(:, v).'));

  mesh = struct('vertices', vertices, 'faces', faces, 'vertexNbors', vertexNbors, ...
                'VertexFaces', VertexFaces);
end

function t = best_time(call)
  t = Inf;
  for k = 1:3
    tic;
    out = call();
    t = min(t, toc);
  end
end
