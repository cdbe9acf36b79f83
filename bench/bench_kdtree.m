function bench_kdtree()
% BENCH_KDTREE  The k-d tree plug-ins end to end from Octave, against Octave's dsearchn.
%   Uniform random points in 3-D, fixed seed; medians of several runs. The comparison with
%   nanoflann and FLANN on the core routines is the program build/bench/bench_kdtree.
  runs = 3;
  rand('state', 20261209);
  M = 1e6;
  reference = rand(M, 3);
  model = rand(M, 3);
  [t_build, t_query, t_radius] = deal(zeros(runs, 1));
  for k = 1:runs
    tic;
    [~, ~, T] = nearestIndexSearch(reference, zeros(0, 3));
    t_build(k) = toc;
    tic;
    [I, D, T] = nearestIndexSearch([], model, T);
    t_query(k) = toc;
    tic;
    for j = 1:1000
      radiusPointSearch(T, model(j, :), 0.02);
    end
    t_radius(k) = toc;
    nearestIndexSearch([], zeros(0, 3), T);
  end
  printf('M = Q = %d: build %.3f s, %d queries through the kept tree %.3f s (%.0f per s), ', ...
         M, median(t_build), M, median(t_query), M / median(t_query));
  printf('1000 radius searches (r = 0.02) %.1f ms\n', 1000 * median(t_radius));

  % dsearchn is quadratic in practice, so a smaller set.
  m = 20000;
  small = reference(1:m, :);
  queries = model(1:m, :);
  [t_ours, t_dsearchn] = deal(zeros(runs, 1));
  for k = 1:runs
    tic;
    [I, D] = nearestIndexSearch(small, queries);
    t_ours(k) = toc;
    tic;
    [J, E] = dsearchn(small, queries);
    t_dsearchn(k) = toc;
  end
  assert(max(abs(D - E)) < 1e-12);
  printf('M = Q = %d: nearestIndexSearch %.4f s, dsearchn %.3f s, ratio dsearchn / ours %.0f\n', ...
         m, median(t_ours), median(t_dsearchn), median(t_dsearchn) / median(t_ours));
end
