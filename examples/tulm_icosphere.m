function [vertices, faces] = tulm_icosphere(subdivisions)
% TULM_ICOSPHERE  Unit icosphere in the column form the toolbox takes.
%   [vertices, faces] = tulm_icosphere(n) subdivides the icosahedron n times and projects
%   every vertex on the unit sphere. vertices is 3 x V single, faces is 3 x F int32 with
%   1-based corners ordered so that every face normal points toward the origin (no face
%   counts as flipped). n = 6 gives 40962 vertices, n = 7 gives 163842.
  t = (1 + sqrt(5)) / 2;
  v = [-1 t 0; 1 t 0; -1 -t 0; 1 -t 0; 0 -1 t; 0 1 t; 0 -1 -t; 0 1 -t; ...
       t 0 -1; t 0 1; -t 0 -1; -t 0 1];
  v = v ./ sqrt(sum(v .^ 2, 2));
  f = 1 + [0 11 5; 0 5 1; 0 1 7; 0 7 10; 0 10 11; 1 5 9; 5 11 4; 11 10 2; 10 7 6; 7 1 8; ...
           3 9 4; 3 4 2; 3 2 6; 3 6 8; 3 8 9; 4 9 5; 2 4 11; 6 2 10; 8 6 7; 9 8 1];
  for level = 1:subdivisions
    % one midpoint per edge, numbered in the order the faces first meet it
    nf = size(f, 1);
    edges = reshape([f(:, [1 2]) f(:, [2 3]) f(:, [3 1])].', 2, []).';
    [~, first, edge_of] = unique(sort(edges, 2), 'rows', 'first');
    [~, by_first] = sort(first);
    rank(by_first) = 1:numel(first);
    edge_of = reshape(rank(edge_of), 3, []).';
    clear rank;
    unique_edges = edges(first(by_first), :);
    nv = size(v, 1);
    mid = (v(unique_edges(:, 1), :) + v(unique_edges(:, 2), :)) / 2;
    v = [v; mid ./ sqrt(sum(mid .^ 2, 2))];
    ab = nv + edge_of(:, 1);
    bc = nv + edge_of(:, 2);
    ca = nv + edge_of(:, 3);
    % the four children of a face stay together, so neighbouring faces stay near in memory
    f = reshape([f(:, 1) ab ca f(:, 2) bc ab f(:, 3) ca bc ab bc ca].', 3, []).';
  end
  vertices = single(v.');
  faces = int32(f(:, [1 3 2]).');   % reversed: normals toward the origin
end
