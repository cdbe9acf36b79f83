function bench_measures_threads(reps)
% BENCH_MEASURES_THREADS  The measures on the icosphere subdivided 7 times, each alternating in
%   one Octave process with its vectorised version (mesh_baselines.m), with itself on one
%   thread and on all threads (TULM_NUM_THREADS), and with its streaming floor: tulm_stream
%   (bench/measures/tulm_stream.cpp) creating an output of the same class and size the same
%   way, reading every input byte once and writing every output element once, and with the
%   creation of its output alone (print_thread_rows). Prints wall time medians of reps rounds
%   (default 15). Then, at subdivisions 8 and 9, each plug-in on all threads against creating
%   and filling its output in Octave (zeros, then one write per element), the cost that grows
%   as the mesh does.
  if nargin < 1
    reps = 15;
  end
  here = fileparts(mfilename('fullpath'));
  addpath(fullfile(here, '..', 'build', 'bench', 'octave'));
  all = nproc();
  old = getenv('TULM_NUM_THREADS');
  restore = onCleanup(@() setenv('TULM_NUM_THREADS', old));
  ops = mesh_baselines();
  % A long session has freed large arrays before, and the C library then keeps arrays up to
  % 32 MiB in memory it has already mapped, instead of mapping fresh pages (each costly on
  % first touch) for every result and temporary. Free one now, as such a session has.
  warm = zeros(3.5e6, 1);
  warm(end) = 1;
  clear warm;

  m = mesh(7);
  s = m.s;
  printf('icosphere(7): V = %d, F = %d, K = %d; %d threads; medians of %d rounds (wall ms)\n', ...
         m.V, m.F, m.K, all, reps);
  % name, vectorised, plug-in, streaming floor, output dimensions
  cases = {
    'per-face areas', @() ops.face_areas(m.Vr, m.Fr), ...
        @() TULM_computeMeshFaceAreas(m.F, m.Fc, m.Vc), ...
        @() tulm_stream([double(m.F) 1], m.Fc, m.Vc), [m.F 1]
    'total area', @() sum(ops.face_areas(m.Vr, m.Fr)), ...
        @() TULM_calculateSurfaceArea(m.Vr, m.Fr), @() tulm_stream([1 1], m.Vr, m.Fr), [1 1]
    'squared dist to neighbours', @() ops.dist2_nbrs(m.Vr, m.Tr), ...
        @() TULM_computeVertexDistSq2Nbors(m.K, m.V, m.Tc, m.Vc), ...
        @() tulm_stream(double([m.K m.V]), m.Tc, m.Vc), [m.K m.V]
    'data differences D=3', @() ops.diff_nbrs(m.Tc, m.data3), ...
        @() TULM_computeDiffDataVertex2Nbors(m.K, m.V, int32(3), m.Tc, m.data3), ...
        @() tulm_stream(double([3 m.K m.V]), m.Tc, m.data3), [3 m.K m.V]
    'smoothing D=1', @() ops.smooth(m.Vr, m.Tr, m.data1.', s), ...
        @() TULM_gaussianSmoothVertexData(m.Vc, m.Tc, m.data1, s), ...
        @() tulm_stream(double([1 m.V]), m.Vc, m.Tc, m.data1), [1 m.V]
    'smoothing D=3', @() ops.smooth(m.Vr, m.Tr, m.data3.', s), ...
        @() TULM_gaussianSmoothVertexData(m.Vc, m.Tc, m.data3, s), ...
        @() tulm_stream(double([3 m.V]), m.Vc, m.Tc, m.data3), [3 m.V]
  };
  print_thread_rows(cases, reps, 28);

  printf('\nscaling, %d threads: plug-in against zeros(size, class) and one write per element\n', all);
  printf('%-28s %4s %10s %10s %8s\n', 'operation', 'n', 'plug-in', 'fill', 'ratio');
  setenv('TULM_NUM_THREADS', num2str(all));
  for n = [8 9]
    m = mesh(n);
    rounds = max(3, round(reps / 3));
    cases = {
      'per-face areas', @() TULM_computeMeshFaceAreas(m.F, m.Fc, m.Vc), [m.F 1]
      'total area', @() TULM_calculateSurfaceArea(m.Vr, m.Fr), [1 1]
      'squared dist to neighbours', @() TULM_computeVertexDistSq2Nbors(m.K, m.V, m.Tc, m.Vc), ...
          [m.K m.V]
      'data differences D=3', ...
          @() TULM_computeDiffDataVertex2Nbors(m.K, m.V, int32(3), m.Tc, m.data3), [3 m.K m.V]
      'smoothing D=1', @() TULM_gaussianSmoothVertexData(m.Vc, m.Tc, m.data1, m.s), [1 m.V]
      'smoothing D=3', @() TULM_gaussianSmoothVertexData(m.Vc, m.Tc, m.data3, m.s), [3 m.V]
    };
    for c = 1:rows(cases)
      dims = double(cases{c, 3});
      t = alternate_calls({cases{c, 2}, @() filled_output(dims, 'single')}, rounds);
      printf('%-28s %4d %10.3f %10.3f %7.2fx\n', cases{c, 1}, n, t, t(1) / t(2));
    end
  end
end

function m = mesh(subdivisions)
  [Vc, Fc] = tulm_icosphere(subdivisions);
  m.Vc = Vc;
  m.Fc = Fc;
  m.Vr = Vc.';
  m.Fr = Fc.';
  m.V = int32(size(Vc, 2));
  m.F = int32(size(Fc, 2));
  m.Tr = reshape(TULM_convertFaces2VertNbors(m.Fr, m.V), m.V, []);
  m.Tc = m.Tr.';
  m.K = int32(rows(m.Tc));
  randn('state', 42);
  m.data1 = single(randn(1, m.V));
  m.data3 = single(randn(3, m.V));
  % the mean squared edge length: weights spread over the whole neighbourhood
  m.s = double(mean(sum((m.Vr(m.Fr(:, 1), :) - m.Vr(m.Fr(:, 2), :)) .^ 2, 2)));
end
