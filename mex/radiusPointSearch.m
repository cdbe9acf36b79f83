% radiusPointSearch  All points of a kept k-d tree within a distance of one query point.
%
%   [P, D, I] = radiusPointSearch(T, QUERYPT, DISTLIM)
%
%   Lists every reference point of the tree T within Euclidean distance DISTLIM of QUERYPT,
%   DISTLIM included. The tree is only read: T stays valid (release it with
%   nearestPointSearch or nearestIndexSearch and fewer than three outputs).
%
%   Inputs
%     T        double 1 x 1: a tree handle returned by nearestPointSearch or
%              nearestIndexSearch with three outputs.
%     QUERYPT  double, 1 x D: the query point, D = the tree's dimension. With 0 rows the
%              call returns no output at all.
%     DISTLIM  1 x 1, any numeric class: the distance limit, at least 0. NaN matches nothing.
%
%   Outputs (rows correspond; R = number of matches, possibly 0)
%     P  double, R x D: the matching reference points, in the tree's pre-order (each node,
%        then its left subtree, then its right subtree), not sorted by distance or row.
%     D  double, R x 1: distance of each match from QUERYPT.
%     I  double, R x 1: 1-based row of each match in the reference the tree was built from.
%
%   Errors
%     "Must have at least 3 inputs (ROOT, QUERYPT, DISTLIM)."
%     "First argument must be a valid pointer to a k-D tree" (empty, released or made-up T)
%     "The dimension of the k-D tree (3) and queried point (2) do not match"
%     "Only one search may be performed. QUERYPT must be 1xD array"
%     "Distance limit (DISTLIM) must be a scalar value >= 0."
%     "ROOT must be a double scalar (got int32)", "QUERYPT must be a double matrix (got
%     single)", "DISTLIM must be a numeric scalar (got char)", ...
%     An out-of-memory failure ends the call with "Out of memory collecting the points
%     within DISTLIM" and leaves the tree alive.
%
%   Example
%     reference = [2 3; 5 4; 9 6; 4 7; 8 1; 7 2];
%     [~, ~, T] = nearestIndexSearch(reference, zeros(0, 2));
%     [P, D, I] = radiusPointSearch(T, [5 4], 3)   % P = [7 2; 5 4], I = [6; 2]
%     nearestIndexSearch([], zeros(0, 2), T);      % release the tree
%
%   See also nearestPointSearch, nearestIndexSearch.
