function bench_folding()
% BENCH_FOLDING  Fold penalties on the icosphere subdivided 7 times with about 1% of its faces
%   flipped: the plug-ins against a plain vectorised Octave fold penalty with its gradient,
%   and the local variant's cost against the size of its visit list. Medians of several runs.
  runs = 15;
  [v, f] = tulm_icosphere(7);
  V = size(v, 2);
  F = size(f, 2);
  VF = reshape(TULM_convertFaces2FacesOfVert(f.', int32(V)), V, []).';
  nbors = reshape(TULM_convertFaces2VertNbors(f.', int32(V)), V, []).';
  original = signed_areas(v, f);
  for p = 1:100:V
    v(:, p) = 1.5 * v(:, nbors(1, p)) - 0.5 * v(:, p);   % across a neighbour: faces flip
  end
  lambda = 0.001;
  [P_oct, G_oct, flipped] = fold_penalty_octave(v, f, lambda);
  printf('V = %d, F = %d, flipped faces: %d (%.2f%%)\n', V, F, flipped, 100 * flipped / F);

  [P, G] = TULM_computeFoldPenaltyGrad(v, f, VF, lambda);
  printf('agreement with the vectorised version: |dP|/P = %.1e, max |dG| = %.1e\n', ...
         abs(double(P) - double(P_oct)) / double(P_oct), max(abs(G(:) - G_oct(:))));
  [~, L] = TULM_computeLocalFoldPenalty(v, f, VF, zeros(0, 1, 'int32'), lambda);

  t_full = median_time(@() TULM_computeFoldPenaltyGrad(v, f, VF, lambda), 2, runs);
  t_oct = median_time(@() fold_penalty_octave(v, f, lambda), 2, runs);
  % The same two alternating run by run: a change in the machine's load hits both, and each
  % plug-in call starts with the caches that the vectorised version has just swept.
  [t_full_alt, t_oct_alt] = median_times(@() TULM_computeFoldPenaltyGrad(v, f, VF, lambda), ...
                                         @() fold_penalty_octave(v, f, lambda), 2, runs);
  t_area = median_time(@() TULM_computeAreaChangePenaltyGrad(v, f, VF, original), 2, runs);
  t_local = median_time(@() TULM_computeLocalFoldPenaltyGrad(v, f, VF, L, lambda), 3, runs);
  printf('%-58s %9s %9s\n', '', 'median', 'ratio');
  printf('%-58s %7.2f ms %8s\n', 'vectorised Octave fold penalty with gradient', 1000 * t_oct, '1');
  printf('%-58s %7.2f ms %8.1fx\n', 'TULM_computeFoldPenaltyGrad', 1000 * t_full, t_oct / t_full);
  printf('%-58s %7.2f ms %8.1fx\n', '  the same, alternating with the vectorised version', ...
         1000 * t_full_alt, t_oct_alt / t_full_alt);
  printf('%-58s %7.2f ms\n', 'TULM_computeAreaChangePenaltyGrad', 1000 * t_area);
  printf('%-58s %7.2f ms %8.1fx\n', sprintf('TULM_computeLocalFoldPenaltyGrad, %d involved vertices', ...
         numel(L)), 1000 * t_local, t_oct / t_local);

  % The local variant's cost follows its visit list: 100 versus 10000 vertices spread over
  % the mesh, with and without the 3 x V gradient output that every call has to create.
  order = int32(randperm(V).');
  printf('local variant against the size of its visit list:\n');
  for name = {'TULM_computeLocalFoldPenaltyGrad', 'TULM_computeLocalFoldPenalty'}
    fn = str2func(name{1});
    outputs = 3 - strcmp(name{1}, 'TULM_computeLocalFoldPenalty');
    t = zeros(1, 3);
    sizes = [100 10000 V];
    for k = 1:3
      visit = order(1:sizes(k));
      t(k) = median_time(@() fn(v, f, VF, visit, lambda), outputs, runs);
    end
    printf('  %-34s 100: %6.3f ms  10000: %6.3f ms  all: %6.3f ms  10000/100: %5.1fx\n', ...
           name{1}, 1000 * t(1), 1000 * t(2), 1000 * t(3), t(2) / t(1));
  end
  t_output = median_time(@() zeros(3, V, 'single'), 1, runs);
  printf(['  (the gradient variant creates and returns a 3 x %d single array on every call, a\n' ...
          '   fixed cost of the order of zeros(3, %d, ''single''): %.3f ms here)\n'], V, V, ...
         1000 * t_output);
end

function t = median_time(fn, outputs, runs)
  % Median wall time of runs calls asking for the given number of outputs, after one warm-up.
  out = cell(1, outputs);
  [out{:}] = fn();
  times = zeros(1, runs);
  for r = 1:runs
    tic;
    [out{:}] = fn();
    times(r) = toc;
  end
  t = median(times);
end

function [t1, t2] = median_times(fn1, fn2, outputs, runs)
  % Median wall times of two calls timed alternately, after one warm-up each.
  out = cell(1, outputs);
  [out{:}] = fn1();
  [out{:}] = fn2();
  times = zeros(2, runs);
  for r = 1:runs
    tic;
    [out{:}] = fn1();
    times(1, r) = toc;
    tic;
    [out{:}] = fn2();
    times(2, r) = toc;
  end
  t1 = median(times(1, :));
  t2 = median(times(2, :));
end

function [P, G, count] = fold_penalty_octave(v, f, lambda)
  % The fold penalty and its gradient as one writes them without the plug-in, vectorised.
  p0 = v(:, f(1, :));
  p1 = v(:, f(2, :));
  p2 = v(:, f(3, :));
  n = cross(p1 - p0, p2 - p0, 1);
  area = sqrt(sum(n .^ 2, 1)) / 2;
  flipped = sum(n .* p0, 1) > 0 & area > 1e-7;
  count = nnz(flipped);
  P = sum(area(flipped) + lambda);
  % Gradient of a face's area with respect to a corner: half the unit normal crossed with the
  % opposite edge, in cyclic order.
  u = n(:, flipped) ./ (2 * area(flipped));
  a = p0(:, flipped);
  b = p1(:, flipped);
  c = p2(:, flipped);
  g = [cross(u, c - b, 1), cross(u, a - c, 1), cross(u, b - a, 1)] / 2;
  corners = reshape(f(:, flipped).', [], 1);
  G = zeros(3, size(v, 2), 'single');
  for k = 1:3
    G(k, :) = accumarray(double(corners), g(k, :).', [size(v, 2) 1]).';
  end
end

function s = signed_areas(v, f)
  % Signed face areas in single (negative for faces whose normal points toward the origin).
  p0 = v(:, f(1, :));
  n = cross(v(:, f(2, :)) - p0, v(:, f(3, :)) - p0, 1);
  s = sqrt(sum(n .^ 2, 1)) / 2;
  inward = sum(n .* p0, 1) <= 0;
  s(inward) = -s(inward);
end
