% nearestIndexSearch  Row of the nearest reference point of every model point (k-d tree).
%
%   [I, D] = nearestIndexSearch(reference, model)
%   [I, D, T] = nearestIndexSearch(reference, model)       % keep the tree: T is its handle
%   [I, D] = nearestIndexSearch(reference, model, T)       % search kept tree T, then release it
%   [I, D, T] = nearestIndexSearch(reference, model, T)    % search kept tree T, keep it
%
%   Builds a k-d tree over the rows of reference (or takes the kept tree T) and finds, for
%   every row of model, the row of the closest reference point in Euclidean distance.
%
%   Inputs
%     reference  double, M x N: one reference point per row. Ignored when T is given.
%     model      double, Q x N: one query point per row (N = the tree's dimension). A model
%                with no rows runs no query.
%     T          double 1 x 1: a tree handle returned earlier by nearestPointSearch or
%                nearestIndexSearch.
%
%   Outputs
%     I  double, Q x 1: the 1-based row, in the reference the tree was built from, of the
%        point closest to model row i. Among reference points at the same smallest distance,
%        the one found last in the tree's pre-order wins: of two equal reference rows it is
%        not always the first. A model row holding NaN has no match: I is 0, D is 0, and
%        "Null LL" is printed.
%     D  double, Q x 1: the exact Euclidean distance from model row i to reference row I(i).
%     T  double 1 x 1: the tree's handle; the tree stays alive. Without a third output the
%        tree is released at the end of the call, also a tree that came in as T, whose handle
%        is then dead. A call that ends in an error releases no kept tree.
%
%   The tree copies the points; it does not depend on reference afterwards. A dropped handle
%   keeps its tree until the process ends. Handles are valid in nearestPointSearch,
%   nearestIndexSearch and radiusPointSearch, within one MATLAB or Octave session.
%
%   Errors
%     "Must have at least two input arrays."
%     "Third argument is not a valid pointer to a k-D tree" (empty, released or made-up T)
%     "You have to supply some reference points to build a k-D tree."
%     "Not enough free memory to build k-D tree"
%     "Reference and Model Vectors must be of the same dimension"
%     "reference must be a double matrix (got single)", "model must be a double matrix
%     (got int32)", "handle must be a double scalar (got int32)", ...
%
%   Example
%     reference = [0; 2; 4];
%     [I, D] = nearestIndexSearch(reference, [3; 1])   % I = [3; 1], D = [1; 1]
%
%   See also nearestPointSearch, radiusPointSearch.
