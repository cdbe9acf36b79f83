function ops = mesh_baselines()
% MESH_BASELINES  Plain vectorised Octave versions of the measures, the way a careful user
%   writes them without plug-ins (row-form V x 3 coordinates, gathers, cross): the yardstick
%   of bench_measures_threads. ops = mesh_baselines() gives a struct of handles.
  ops.face_areas = @face_areas;
  ops.smooth = @gauss_smooth;
  ops.dist2_nbrs = @dist2_nbrs;
  ops.diff_nbrs = @diff_nbrs;
end

% Per-face areas (F x 1, class of V) by the cross product.
function a = face_areas(V, F)
  P0 = V(F(:, 1), :);
  c = cross(V(F(:, 2), :) - P0, V(F(:, 3), :) - P0, 2);
  a = 0.5 * sqrt(sum(c .^ 2, 2));
end

% One Gaussian smoothing step: data is V x D, T the V x K row-form table.
function out = gauss_smooth(V, T, data, s)
  mask = T > 0;
  Ti = double(T);
  Ti(~mask) = 1;
  x = V(:, 1);
  y = V(:, 2);
  z = V(:, 3);
  d2 = (x(Ti) - x) .^ 2 + (y(Ti) - y) .^ 2 + (z(Ti) - z) .^ 2;
  w = exp(-d2 / (2 * s)) .* mask;
  ws = 1 + sum(w, 2);
  out = zeros(size(data), class(data));
  for k = 1:columns(data)
    dk = data(:, k);
    out(:, k) = (dk + sum(w .* dk(Ti), 2)) ./ ws;
  end
end

% Squared distances from each vertex to each neighbour, K x V, 0 in empty slots.
function D = dist2_nbrs(V, T)
  mask = T > 0;
  Ti = double(T);
  Ti(~mask) = 1;
  x = V(:, 1);
  y = V(:, 2);
  z = V(:, 3);
  D = ((x(Ti) - x) .^ 2 + (y(Ti) - y) .^ 2 + (z(Ti) - z) .^ 2) .* mask;
  D = D.';
end

% Differences of D x V data along the K x V column-form table, D x K x V, 0 in empty slots.
function out = diff_nbrs(Tc, data)
  [K, V] = size(Tc);
  D = rows(data);
  mask = reshape(Tc > 0, 1, K, V);
  n = max(Tc, 1);
  out = (reshape(data, D, 1, V) - reshape(data(:, n), D, K, V)) .* mask;
end
