function demo_kdtree(mesh)
% DEMO_KDTREE  Nearest vertices of a rotated sphere through a kept k-d tree, and a radius query.
  printf('== k-d tree\n');
  reference = double(mesh.vertices.');             % V x 3, one vertex per row
  V = rows(reference);
  a = 0.3;                                         % rotate about z, then about x
  Rz = [cos(a) -sin(a) 0; sin(a) cos(a) 0; 0 0 1];
  Rx = [1 0 0; 0 cos(2 * a) -sin(2 * a); 0 sin(2 * a) cos(2 * a)];
  model = reference * (Rx * Rz).';

  tic;
  [I, D, T] = nearestIndexSearch(reference, model);   % three outputs: the tree is kept
  t_build_query = toc;
  tic;
  [P, ~, T] = nearestPointSearch([], model, T);       % the kept tree, kept again
  t_query = toc;

  sample = round(linspace(1, V, 200));
  for i = sample
    d = sqrt(sum((reference - model(i, :)) .^ 2, 2));
    assert(D(i) == min(d) && d(I(i)) == min(d));
  end
  assert(isequal(P, reference(I, :)));
  printf('V = %d vertices, rotated copy as queries\n', V);
  printf('nearestIndexSearch (build + %d queries): %7.1f ms\n', V, 1000 * t_build_query);
  printf('nearestPointSearch (kept tree, %d queries): %7.1f ms\n', V, 1000 * t_query);
  printf('mean distance to nearest vertex %.5f, largest %.5f; %d sampled queries match ', ...
         mean(D), max(D), numel(sample));
  printf('brute force exactly\n');

  centre = reference(1, :);
  r = 3 * mean(D);
  tic;
  [Pr, Dr, Ir] = radiusPointSearch(T, centre, r);
  t_radius = toc;
  brute = find(sqrt(sum((reference - centre) .^ 2, 2)) <= r);
  assert(isequal(sort(Ir), brute));
  printf('radiusPointSearch around vertex 1, radius %.4f: %d vertices (%.2f ms), ', r, ...
         rows(Pr), 1000 * t_radius);
  printf('farthest at %.4f\n', max(Dr));
  nearestIndexSearch([], zeros(0, 3), T);             % fewer than three outputs: released
  printf('tree released\n\n');
end
