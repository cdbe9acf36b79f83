function bench_measures()
% BENCH_MEASURES  Areas, neighbour quantities, smoothing and rings on the icosphere subdivided
%   7 times, against plain vectorised Octave and against the streaming floor, in one run.
%
%   The streaming floor is tulm_stream (bench/measures/tulm_stream.cpp): a plug-in that creates
%   an output of the same class and size the same way, reads every input byte once and writes
%   every output element once. A deliverable that reads its inputs and writes its output
%   cannot move less memory, so its time over the floor says how close to memory speed it
%   runs. Times are medians of several runs in one Octave session, of processor time (the
%   ratios) and of wall time.
  here = fileparts(mfilename('fullpath'));
  addpath(fullfile(here, '..', 'build', 'bench', 'octave'));
  runs = 21;

  [vertices, faces] = tulm_icosphere(7);
  V = int32(size(vertices, 2));
  F = int32(size(faces, 2));
  vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
  K = int32(size(vertexNbors, 1));
  rowVertices = vertices.';
  rowFaces = faces.';
  randn('state', 7);
  data3 = single(randn(3, V));
  data1 = single(randn(1, V));
  data16 = single(randn(16, V));
  s = 1e-4;
  printf('icosphere(7): V = %d, F = %d, K = %d; medians of %d runs\n\n', V, F, K, runs);

  % Every alternative must give what the deliverable gives before it is timed.
  areas = TULM_computeMeshFaceAreas(F, faces, vertices);
  assert(max(abs(octave_face_areas(faces, vertices) - double(areas))) < 1e-9);
  for data = {data1, data16}
    mine = TULM_gaussianSmoothVertexData(vertices, vertexNbors, data{1}, s);
    assert(max(abs(octave_smooth(vertices, vertexNbors, data{1}, s)(:) - double(mine(:)))) < 1e-5);
  end

  t.total = time_it(@() TULM_calculateSurfaceArea(rowVertices, rowFaces), runs);
  t.total_stream = time_it(@() tulm_stream([1 1], rowVertices, rowFaces), runs);
  t.areas = time_it(@() TULM_computeMeshFaceAreas(F, faces, vertices), runs);
  t.areas_stream = time_it(@() tulm_stream([double(F) 1], faces, vertices), runs);
  t.areas_octave = time_it(@() octave_face_areas(faces, vertices), runs);
  t.dist = time_it(@() TULM_computeVertexDistSq2Nbors(K, V, vertexNbors, vertices), runs);
  t.dist_stream = time_it(@() tulm_stream(double([K V]), vertexNbors, vertices), runs);
  t.diff = time_it(@() TULM_computeDiffDataVertex2Nbors(K, V, int32(3), vertexNbors, data3), runs);
  t.diff_stream = time_it(@() tulm_stream(double([3 K V]), vertexNbors, data3), runs);
  t.smooth1 = time_it(@() TULM_gaussianSmoothVertexData(vertices, vertexNbors, data1, s), runs);
  t.smooth1_octave = time_it(@() octave_smooth(vertices, vertexNbors, data1, s), runs);
  t.smooth16 = time_it(@() TULM_gaussianSmoothVertexData(vertices, vertexNbors, data16, s), runs);
  t.smooth16_octave = time_it(@() octave_smooth(vertices, vertexNbors, data16, s), runs);
  t.ring5 = time_it(@() TULM_findNeighborhoodGivenRadius(K, V, int32(100), int32(5), ...
                                                          vertexNbors), runs);

  printf('%-38s %7s %7s   (alternatives and ratios in cpu ms)\n', 'deliverable', 'cpu ms', ...
         'wall ms');
  faster('TULM_computeMeshFaceAreas', t.areas, t.areas_octave, 10);
  faster('TULM_gaussianSmoothVertexData D=1', t.smooth1, t.smooth1_octave, 3);
  faster('TULM_gaussianSmoothVertexData D=16', t.smooth16, t.smooth16_octave, 3);
  streaming('TULM_calculateSurfaceArea', t.total, t.total_stream);
  streaming('TULM_computeMeshFaceAreas', t.areas, t.areas_stream);
  streaming('TULM_computeVertexDistSq2Nbors', t.dist, t.dist_stream);
  streaming('TULM_computeDiffDataVertex2Nbors D=3', t.diff, t.diff_stream);
  printf('%-38s %7.3f %7.3f\n', 'TULM_findNeighborhoodGivenRadius r=5', 1000 * t.ring5.cpu, ...
         1000 * t.ring5.wall);
end

% Speed-up over the vectorised Octave version; the target is a least speed-up.
function faster(name, mine, octave, target)
  ratio = octave.cpu / mine.cpu;
  printf('%-38s %7.3f %7.3f   Octave %8.3f ms: %6.2fx faster (target >= %dx: %s)\n', name, ...
         1000 * mine.cpu, 1000 * mine.wall, 1000 * octave.cpu, ratio, target, ...
         verdict(ratio >= target));
end

% Time against the streaming floor; the target is at most 3 times the floor.
function streaming(name, mine, floor)
  ratio = mine.cpu / floor.cpu;
  printf('%-38s %7.3f %7.3f   stream %8.3f ms: %6.2fx the floor (target <= 3x: %s)\n', name, ...
         1000 * mine.cpu, 1000 * mine.wall, 1000 * floor.cpu, ratio, verdict(ratio <= 3));
end

function text = verdict(met)
  if met
    text = 'met';
  else
    text = 'missed';
  end
end

% Medians over runs of the processor time the call takes (cputime: not counting the time the
% process waits for a core, which on a shared machine swamps the wall clock) and of the wall
% time, in seconds.
function t = time_it(f, runs)
  f();                                       % load the plug-in, warm the caches
  cpu = zeros(runs, 1);
  wall = zeros(runs, 1);
  for r = 1:runs
    start = cputime();
    tic;
    f();
    wall(r) = toc;
    cpu(r) = cputime() - start;
  end
  t = struct('cpu', median(cpu), 'wall', median(wall));
end

% Per-face areas, vectorised: half the length of the cross product of the edges at corner 1.
function areas = octave_face_areas(faces, vertices)
  p0 = vertices(:, faces(1, :));
  u = vertices(:, faces(2, :)) - p0;
  w = vertices(:, faces(3, :)) - p0;
  c = [u(2, :) .* w(3, :) - u(3, :) .* w(2, :); ...
       u(3, :) .* w(1, :) - w(3, :) .* u(1, :); ...
       u(1, :) .* w(2, :) - u(2, :) .* w(1, :)];
  areas = 0.5 * sqrt(double(sum(c .^ 2, 1))).';
end

% One smoothing step, vectorised over all table slots: the list of a column ends at its first
% entry below 1; the vertex itself counts with weight 1.
function out = octave_smooth(vertices, vertexNbors, data, s)
  [K, V] = size(vertexNbors);
  D = size(data, 1);
  listed = cumprod(vertexNbors > 0, 1);
  n = max(vertexNbors, 1);
  d2 = zeros(K, V, 'single');
  for c = 1:3
    delta = vertices(c, :) - reshape(vertices(c, n), K, V);
    d2 = d2 + delta .^ 2;
  end
  w = exp(-d2 / (2 * s)) .* listed;
  neighbours = reshape(data(:, n), D, K, V);
  out = (data + reshape(sum(reshape(w, 1, K, V) .* neighbours, 2), D, V)) ./ (1 + sum(w, 1));
end
