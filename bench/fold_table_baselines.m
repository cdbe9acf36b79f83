function ops = fold_table_baselines()
% FOLD_TABLE_BASELINES  Plain vectorised Octave versions of the two tables, the fold penalty
%   with its gradient and face location, the way a careful user writes them without plug-ins
%   (row-form arrays, gathers, cross, sparse, accumarray): what bench_fold_tables_threads
%   compares the plug-ins with. The first three are those of the shared baselines.
  ops.nbr_table = @nbr_table;
  ops.faces_of_vertex = @faces_of_vertex;
  ops.fold = @fold_penalty_grad;
  ops.locate = @locate;
end

% V x K int32 neighbour table (row form), 0-padded, neighbours ascending, from a symmetric
% sparse adjacency matrix.
function T = nbr_table(F, nv)
  F = double(F);
  nv = double(nv);
  i = [F(:, 1); F(:, 2); F(:, 3)];
  j = [F(:, 2); F(:, 3); F(:, 1)];
  A = sparse([i; j], [j; i], 1, nv, nv);
  [nb, v] = find(A);
  deg = accumarray(v, 1, [nv 1]);
  start = cumsum([0; deg(1:end - 1)]);
  slot = (1:numel(v))' - start(v);
  T = zeros(nv, max(deg), 'int32');
  T(v + (slot - 1) * nv) = nb;
end

% V x K int32 faces-of-vertex table (row form), 0-padded, faces ascending.
function T = faces_of_vertex(F, nv)
  nv = double(nv);
  nf = rows(F);
  v = double(F(:));
  f = repmat((1:nf)', 3, 1);
  [~, ord] = sort(v * (nf + 1) + f);
  v = v(ord);
  f = f(ord);
  cnt = accumarray(v, 1, [nv 1]);
  start = cumsum([0; cnt(1:end - 1)]);
  slot = (1:numel(v))' - start(v);
  T = zeros(nv, max(cnt), 'int32');
  T(v + (slot - 1) * nv) = f;
end

% The fold penalty: the sum over faces whose normal points away from the origin (signed area
% above 1e-7) of area + offset; G (3 x V) its gradient.
function [P, G] = fold_penalty_grad(V, F, offset)
  nv = rows(V);
  P0 = V(F(:, 1), :);
  P1 = V(F(:, 2), :);
  P2 = V(F(:, 3), :);
  N = cross(P1 - P0, P2 - P0, 2);
  A = 0.5 * sqrt(sum(N .^ 2, 2));
  up = sum(N .* P0, 2) > 0;
  s = A;
  s(!up) = -A(!up);
  fl = s > single(1e-7);
  offset = cast(offset, class(V));
  P = sum(s(fl) + offset);
  if nargout < 2
    return;
  end
  G = zeros(3, nv, class(V));
  if any(fl)
    Nh = N(fl, :) .* (0.25 ./ A(fl));
    g0 = cross(Nh, P2(fl, :) - P1(fl, :), 2);
    g1 = cross(Nh, P0(fl, :) - P2(fl, :), 2);
    g2 = cross(Nh, P1(fl, :) - P0(fl, :), 2);
    idx = double([F(fl, 1); F(fl, 2); F(fl, 3)]);
    g = [g0; g1; g2];
    for c = 1:3
      G(c, :) = accumarray(idx, g(:, c), [nv 1]).';
    end
  end
end

% The face of each point (N x 3 single) among the faces around its seed vertex (VF is the
% K x V faces-of-vertex table, column form): the first whose ray test from the origin passes,
% all points at once; 0 where none does. With seeds at the nearest vertex this finds nearly
% every point's face, the task of TULM_findFaceAux without its walk.
function [face, corner] = locate(points, V, F, VF, seeds)
  K = rows(VF);
  N = rows(points);
  candidates = VF(:, seeds);               % K x N
  valid = candidates > 0;
  c = double(candidates);
  c(!valid) = 1;
  A = V(F(c, 1), :);
  B = V(F(c, 2), :);
  C = V(F(c, 3), :);
  p = repmat(points, K, 1);
  p = reshape(permute(reshape(p, N, K, 3), [2 1 3]), K * N, 3);
  % The ray from the origin through p meets the face inside when p lies on the inner side of
  % the three planes through the origin and each edge.
  inside = sum(cross(A, B, 2) .* p, 2) <= 0 & sum(cross(B, C, 2) .* p, 2) <= 0 & ...
           sum(cross(C, A, 2) .* p, 2) <= 0;
  inside = reshape(inside, K, N) & valid;
  [hit, k] = max(inside, [], 1);
  face = int32(candidates(sub2ind([K N], k, 1:N)));
  face(!hit) = 0;
  corner = seeds;
end
