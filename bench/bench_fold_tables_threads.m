function bench_fold_tables_threads(reps)
% BENCH_FOLD_TABLES_THREADS  The two tables, the fold penalties and face location on the
%   icosphere subdivided 7 times, each alternating in one Octave process with its vectorised
%   version (fold_table_baselines.m), with itself on one thread and on all threads
%   (TULM_NUM_THREADS), and with its streaming floor: a plug-in that creates an output of the
%   same size the same way, reads every input byte once and writes every output element once
%   (tulm_bench_stream_table for the int32 tables, tulm_stream otherwise). Prints wall time
%   medians of reps rounds (default 15). The mesh is numbered as the shared baselines number
%   it: the children of a face apart, by kind. Then, at subdivisions 8 and 9, the tables and
%   the fold penalty with its gradient on all threads against creating and filling their
%   output in Octave (zeros, then one write per element).
  if nargin < 1
    reps = 15;
  end
  here = fileparts(mfilename('fullpath'));
  addpath(fullfile(here, '..', 'build', 'bench', 'octave'));
  addpath(fullfile(here, '..', 'build', 'octave'));
  all = nproc();
  old = getenv('TULM_NUM_THREADS');
  restore = onCleanup(@() setenv('TULM_NUM_THREADS', old));
  ops = fold_table_baselines();
  % A long session has freed large arrays before, and the C library then keeps arrays up to
  % 32 MiB in memory it has already mapped: free one now, as such a session has.
  warm = zeros(3.5e6, 1);
  warm(end) = 1;
  clear warm;

  m = mesh(7);
  [~, loadText] = system('cat /proc/loadavg');
  printf(['icosphere(7): V = %d, F = %d; %d threads; medians of %d rounds (wall ms); ' ...
          'load average %s'], m.V, m.F, all, reps, loadText);
  printf('fold+grad, jittered: %d flipped faces (%.1f%%)\n', m.flipped, 100 * m.flipped / m.F);
  Kn = int32(rows(m.Tc));
  Kf = int32(rows(m.VFc));
  N = double(m.V);
  % name, vectorised, plug-in, streaming floor
  cases = {
    'neighbour table', @() ops.nbr_table(m.Fr, m.V), ...
        @() TULM_convertFaces2VertNbors(m.Fr, m.V), @() tulm_bench_stream_table(m.Fr, m.V, Kn)
    'faces-of-vertex table', @() ops.faces_of_vertex(m.Fr, m.V), ...
        @() TULM_convertFaces2FacesOfVert(m.Fr, m.V), @() tulm_bench_stream_table(m.Fr, m.V, Kf)
    'fold penalty, 0 flipped', @() ops.fold(m.Vr, m.Fr, 0.01), ...
        @() TULM_computeFoldPenalty(m.Vc, m.Fc, m.VFc, 0.01), @() tulm_stream([1 1], m.Vc, m.Fc)
    'fold+grad, jittered', @() nthargout(1:2, ops.fold, m.Wr, m.Fr, 0.01), ...
        @() nthargout(1:2, @TULM_computeFoldPenaltyGrad, m.Wc, m.Fc, m.VFc, 0.01), ...
        @() tulm_stream([3 N], m.Wc, m.Fc, m.VFc)
    'fold+grad, all flipped', @() nthargout(1:2, ops.fold, m.Vr, m.Fflip, 0.01), ...
        @() nthargout(1:2, @TULM_computeFoldPenaltyGrad, m.Vc, m.Fflip.', m.VFc, 0.01), ...
        @() tulm_stream([3 N], m.Vc, m.Fc, m.VFc)
    'face location', @() ops.locate(m.points, m.Vr, m.Fr, m.VFc, m.seeds), ...
        @() nthargout(1:2, @TULM_findFaceAux, m.points.', m.Vc, m.Fc, m.Tc, m.VFc, m.seeds), ...
        @() tulm_stream([1 N], m.points, m.Vc, m.Fc, m.Tc, m.VFc, m.seeds)
  };
  print_thread_rows(cases, reps, 24);

  printf('\nscaling, %d threads: plug-in against zeros(size, class) and one write per element\n', all);
  printf('%-24s %4s %10s %10s %8s\n', 'operation', 'n', 'plug-in', 'fill', 'ratio');
  setenv('TULM_NUM_THREADS', num2str(all));
  for n = [8 9]
    m = mesh(n);
    rounds = max(3, round(reps / 3));
    cases = {
      'neighbour table', @() TULM_convertFaces2VertNbors(m.Fr, m.V), ...
          {[double(m.V) * rows(m.Tc) 1], 'int32'}
      'faces-of-vertex table', @() TULM_convertFaces2FacesOfVert(m.Fr, m.V), ...
          {[double(m.V) * rows(m.VFc) 1], 'int32'}
      'fold+grad, jittered', ...
          @() nthargout(1:2, @TULM_computeFoldPenaltyGrad, m.Wc, m.Fc, m.VFc, 0.01), ...
          {[3 double(m.V)], 'single'}
    };
    for c = 1:rows(cases)
      output = cases{c, 3};
      t = alternate_calls({cases{c, 2}, @() filled_output(output{:})}, rounds);
      printf('%-24s %4d %10.3f %10.3f %7.2fx\n', cases{c, 1}, n, t, t(1) / t(2));
    end
  end
end

function m = mesh(subdivisions)
  [Vd, F] = baselines_icosphere(subdivisions);
  m.Vr = single(Vd);
  m.Vc = m.Vr.';
  m.Fr = int32(F);
  m.Fc = m.Fr.';
  m.V = int32(rows(Vd));
  m.F = int32(rows(F));
  m.Tc = reshape(TULM_convertFaces2VertNbors(m.Fr, m.V), m.V, []).';
  m.VFc = reshape(TULM_convertFaces2FacesOfVert(m.Fr, m.V), m.V, []).';
  % The jittered mesh of the shared interleaved benchmark: a few percent of faces flipped.
  e2 = mean(sum((m.Vr(m.Fr(:, 1), :) - m.Vr(m.Fr(:, 2), :)) .^ 2, 2));
  randn('state', 42);
  W = m.Vr + 0.3 * sqrt(e2) * single(randn(size(m.Vr)));
  m.Wr = W ./ sqrt(sum(W .^ 2, 2));
  m.Wc = m.Wr.';
  m.flipped = flipped_count(m.Wr, m.Fr);
  m.Fflip = m.Fr(:, [1 3 2]);
  % Every vertex turned a little about a fixed axis, seeded at itself.
  angle = 0.008;
  R = [cos(angle) -sin(angle) 0; sin(angle) cos(angle) 0; 0 0 1];
  m.points = single(double(m.Vr) * R.');
  m.seeds = int32(1:double(m.V));
end

function count = flipped_count(Vr, Fr)
  P0 = Vr(Fr(:, 1), :);
  N = cross(Vr(Fr(:, 2), :) - P0, Vr(Fr(:, 3), :) - P0, 2);
  count = nnz(sum(N .* P0, 2) > 0 & sqrt(sum(N .^ 2, 2)) / 2 > single(1e-7));
end

% The icosphere as /work/shared/baselines/icosphere.m builds it (V x 3 double, F x 3).
function [V, F] = baselines_icosphere(k)
  t = (1 + sqrt(5)) / 2;
  V = [-1 t 0; 1 t 0; -1 -t 0; 1 -t 0; 0 -1 t; 0 1 t; 0 -1 -t; 0 1 -t; ...
       t 0 -1; t 0 1; -t 0 -1; -t 0 1];
  V = V ./ sqrt(sum(V .^ 2, 2));
  F = [1 12 6; 1 6 2; 1 2 8; 1 8 11; 1 11 12; 2 6 10; 6 12 5; 12 11 3; 11 8 7; 8 2 9; ...
       4 10 5; 4 5 3; 4 3 7; 4 7 9; 4 9 10; 5 10 6; 3 5 12; 7 3 11; 9 7 8; 10 9 2];
  n = cross(V(F(:, 2), :) - V(F(:, 1), :), V(F(:, 3), :) - V(F(:, 1), :), 2);
  out = sum(n .* V(F(:, 1), :), 2) > 0;
  F(out, [2 3]) = F(out, [3 2]);
  for it = 1:k
    nv = rows(V);
    nf = rows(F);
    E = [F(:, [1 2]); F(:, [2 3]); F(:, [3 1])];
    [~, ~, eid] = unique(sort(E, 2), 'rows');
    [~, first] = unique(eid);
    Es = E(first, :);
    M = V(Es(:, 1), :) + V(Es(:, 2), :);
    M = M ./ sqrt(sum(M .^ 2, 2));
    V = [V; M];
    mid = nv + reshape(eid, nf, 3);
    F = [F(:, 1) mid(:, 1) mid(:, 3); F(:, 2) mid(:, 2) mid(:, 1); ...
         F(:, 3) mid(:, 3) mid(:, 2); mid(:, 1) mid(:, 2) mid(:, 3)];
  end
end
