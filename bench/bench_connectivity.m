function bench_connectivity()
% BENCH_CONNECTIVITY  Both table builders on the icosphere subdivided 7 times, against a plain
% vectorised Octave version of each table and against streaming the same bytes once.
  [~, faces] = tulm_icosphere(7);
  V = int32(max(faces(:)));
  F = size(faces, 2);
  rowFaces = faces.';
  runs = 15;
  K = int32(numel(TULM_convertFaces2VertNbors(rowFaces, V)) / double(V));
  printf('icosphere 7: V = %d, F = %d, K = %d; median of %d runs\n', V, F, K, runs);
  printf('glibc malloc: %s\n', malloc_settings());

  % Every candidate is checked against the plug-in once before it is timed.
  nbrs = TULM_convertFaces2VertNbors(rowFaces, V);
  assert(isequal(vectorised_neighbours(rowFaces, V), nbrs));
  assert(isequal(sort(reshape(nbrs, V, []), 2), sort(reshape(sparse_neighbours(rowFaces, V), V, []), 2)));
  vf = TULM_convertFaces2FacesOfVert(rowFaces, V);
  assert(isequal(vectorised_faces_of_vertex(rowFaces, V), vf));

  t_stream = median_time(@() tulm_bench_stream_table(rowFaces, V, K), runs);
  t_nbrs = median_time(@() TULM_convertFaces2VertNbors(rowFaces, V), runs);
  t_vnbrs = median_time(@() vectorised_neighbours(rowFaces, V), runs);
  t_snbrs = median_time(@() sparse_neighbours(rowFaces, V), runs);
  t_vf = median_time(@() TULM_convertFaces2FacesOfVert(rowFaces, V), runs);
  t_vvf = median_time(@() vectorised_faces_of_vertex(rowFaces, V), runs);

  printf('%-32s %10s %14s %14s\n', 'table', 'plug-in', 'vectorised', 'streaming');
  row('TULM_convertFaces2VertNbors', t_nbrs, t_vnbrs, t_stream);
  printf('  (vectorised in the same order; the same neighbours in ascending order through a\n');
  printf('   sparse adjacency matrix take %.2f ms, %.1fx the plug-in)\n', 1000 * t_snbrs, ...
         t_snbrs / t_nbrs);
  row('TULM_convertFaces2FacesOfVert', t_vf, t_vvf, t_stream);
  printf('targets: >= 20x faster than vectorised, <= 4x the streaming time\n');
end

function row(name, t, t_vectorised, t_stream)
  printf('%-32s %8.2f ms %8.2f ms %4.1fx %8.2f ms %4.2fx\n', name, 1000 * t, ...
         1000 * t_vectorised, t_vectorised / t, 1000 * t_stream, t / t_stream);
end

function t = median_time(f, runs)
  times = zeros(runs, 1);
  for r = 1:runs
    tic;
    out = f();
    times(r) = toc;
    clear out;
  end
  t = median(times);
end

function s = malloc_settings()
  names = {'MALLOC_MMAP_THRESHOLD_', 'MALLOC_TRIM_THRESHOLD_', 'MALLOC_TOP_PAD_'};
  s = '';
  for k = 1:numel(names)
    value = getenv(names{k});
    if isempty(value)
      value = 'default';
    end
    s = [s sprintf('%s=%s ', names{k}, value)];
  end
end

% What a user writes without the plug-in: the adjacency as a sparse matrix, each vertex's
% neighbours in the order their shared edge is first met.
function table = vectorised_neighbours(rowFaces, V)
  % edges in the order the builder meets them: face by face, pairs (1,2), (1,3), (2,3)
  p = reshape(double(rowFaces(:, [1 1 2])).', [], 1);
  q = reshape(double(rowFaces(:, [2 3 3])).', [], 1);
  n = double(V);
  % both directions of each edge, keeping only the first time an undirected edge is met
  key = min(p, q) * n + max(p, q);
  [~, first] = unique(key, 'first');
  first = sort(first);
  from = [p(first) q(first)].';
  to = [q(first) p(first)].';
  from = from(:);
  to = to(:);
  order = (1:numel(from)).';
  % slot of each entry within its row: rank of its arrival among the row's entries
  [~, byRow] = sortrows([from order]);
  from = from(byRow);
  to = to(byRow);
  degree = accumarray(from, 1, [n 1]);
  start = cumsum([0; degree(1:end - 1)]);
  slot = (1:numel(from)).' - start(from);
  table = zeros(n, max(degree), 'int32');
  table(from + (slot - 1) * n) = to;
  table = table(:);
end

% What a user writes for the same neighbours when their order does not matter: a sparse
% adjacency matrix, each vertex's neighbours in ascending order.
function table = sparse_neighbours(rowFaces, V)
  n = double(V);
  p = double(rowFaces(:, [1 1 2]));
  q = double(rowFaces(:, [2 3 3]));
  A = sparse([p(:); q(:)], [q(:); p(:)], 1, n, n);
  [neighbour, vertex] = find(A);
  degree = accumarray(vertex, 1, [n 1]);
  start = cumsum([0; degree(1:end - 1)]);
  slot = (1:numel(vertex)).' - start(vertex);
  table = zeros(n, max(degree), 'int32');
  table(vertex + (slot - 1) * n) = neighbour;
  table = table(:);
end

% The faces of each vertex in ascending order, through one sort of the corners keyed by
% vertex, then face.
function table = vectorised_faces_of_vertex(rowFaces, V)
  F = size(rowFaces, 1);
  [key, order] = sort(double(rowFaces(:)) * (F + 1) + repmat((1:F).', 3, 1));
  corner = floor(key / (F + 1));
  face = key - corner * (F + 1);
  n = double(V);
  degree = accumarray(corner, 1, [n 1]);
  start = cumsum([0; degree(1:end - 1)]);
  slot = (1:numel(corner)).' - start(corner);
  table = zeros(n, max(degree), 'int32');
  table(corner + (slot - 1) * n) = face;
  table = table(:);
end
