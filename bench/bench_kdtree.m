function bench_kdtree(reps)
% BENCH_KDTREE  The nearest queries end to end from Octave, through a kept tree as users call
%   them ([~, ~, T] = nearestIndexSearch(ref, zeros(0, N)); nearestIndexSearch([], Q, T)), at
%   one thread and at all threads (TULM_NUM_THREADS), on the cases of build/bench/bench_kdtree
%   (which times nanoflann and FLANN on the same points): uniform points in 3-D, on a line
%   (with Octave's sort + interp1(..., 'nearest') alongside) and on the sphere. The sides of a
%   case take turns; medians of reps turns (default 5). Then dsearchn, Octave's own nearest
%   search, on a smaller set.
  if nargin < 1
    reps = 5;
  end
  old = getenv('TULM_NUM_THREADS');
  restore = onCleanup(@() setenv('TULM_NUM_THREADS', old));
  rand('state', 20261209);
  randn('state', 20261209);
  [vertices, ~] = tulm_icosphere(7);
  sphere = double(vertices.');
  directions = randn(1e5, 3);
  onSphere = double(single(directions ./ sqrt(sum(directions .^ 2, 2))));
  cases = {
    '3-D uniform, M = 1e4, Q = 1e5', rand(1e4, 3), rand(1e5, 3)
    '3-D uniform, M = 1e4, Q = 1e6', rand(1e4, 3), rand(1e6, 3)
    '3-D uniform, M = 1e5, Q = 1e5', rand(1e5, 3), rand(1e5, 3)
    '3-D uniform, M = 1e5, Q = 1e6', rand(1e5, 3), rand(1e6, 3)
    '3-D uniform, M = 1e6, Q = 1e5', rand(1e6, 3), rand(1e5, 3)
    '3-D uniform, M = 1e6, Q = 1e6', rand(1e6, 3), rand(1e6, 3)
    '1-D uniform, M = 1e5, Q = 1e5', rand(1e5, 1), rand(1e5, 1)
    '1-D sorted reference, M = 1e5, Q = 1e5', sort(rand(1e5, 1)), rand(1e5, 1)
    'sphere: icosphere 7 vertices, Q = 1e5 on the sphere', sphere, onSphere
  };
  printf('%d threads at most; queries per second, medians of %d turns\n', nproc(), reps);
  for c = 1:rows(cases)
    [name, reference, model] = cases{c, :};
    [M, N] = size(reference);
    Q = rows(model);
    [~, ~, T] = nearestIndexSearch(reference, zeros(0, N));
    [t_all, t_one, t_interp] = deal(zeros(reps, 1));
    if N == 1
      [sorted, by] = sort(reference);
    end
    for k = 1:reps
      setenv('TULM_NUM_THREADS', '');
      tic;
      [I, D, T] = nearestIndexSearch([], model, T);
      t_all(k) = toc;
      setenv('TULM_NUM_THREADS', '1');
      tic;
      [I1, D1, T] = nearestIndexSearch([], model, T);
      t_one(k) = toc;
      if N == 1
        tic;
        J = by(interp1(sorted, 1:M, model, 'nearest', 'extrap'));
        t_interp(k) = toc;
      end
    end
    setenv('TULM_NUM_THREADS', '');
    nearestIndexSearch([], zeros(0, N), T);
    assert(isequal(I, I1) && isequal(D, D1));
    printf('%s\n  ours through Octave, all threads %10.0f, 1 thread %10.0f', name, ...
           Q / median(t_all), Q / median(t_one));
    if N == 1
      printf(', sort + interp1 nearest %10.0f (sort done before; %d distances differ)', ...
             Q / median(t_interp), nnz(abs(model - reference(J)) != D));
    end
    printf('\n');
  end

  % The build, and radius searches through the kept tree.
  reference = rand(1e6, 3);
  [t_build, t_radius] = deal(zeros(reps, 1));
  for k = 1:reps
    tic;
    [~, ~, T] = nearestIndexSearch(reference, zeros(0, 3));
    t_build(k) = toc;
    tic;
    for j = 1:1000
      radiusPointSearch(T, reference(j, :), 0.02);
    end
    t_radius(k) = toc;
    nearestIndexSearch([], zeros(0, 3), T);
  end
  printf('M = 1e6 uniform in 3-D: build %.3f s, 1000 radius searches (r = 0.02) %.1f ms\n', ...
         median(t_build), 1000 * median(t_radius));

  % dsearchn is quadratic in practice, so a smaller set.
  m = 20000;
  small = rand(m, 3);
  queries = rand(m, 3);
  [t_ours, t_dsearchn] = deal(zeros(reps, 1));
  for k = 1:reps
    tic;
    [I, D] = nearestIndexSearch(small, queries);
    t_ours(k) = toc;
    tic;
    [J, E] = dsearchn(small, queries);
    t_dsearchn(k) = toc;
  end
  assert(max(abs(D - E)) < 1e-12);
  printf('M = Q = %d, tree built in the call: nearestIndexSearch %.4f s, dsearchn %.3f s, ', ...
         m, median(t_ours), median(t_dsearchn));
  printf('ratio dsearchn / ours %.0f\n', median(t_dsearchn) / median(t_ours));
end
