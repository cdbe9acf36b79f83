% Fold penalties in a real Octave: tables from the builders, an unfolding run, the gradient
% against finite differences, messages as users see them.

%!shared v1, f1, vf1
%! v1 = single([1 0 0; 0 1 0; 0 0 1]);     % one face whose normal (1, 1, 1) points outward
%! f1 = int32([1; 2; 3]);
%! vf1 = int32([1 1 1]);

%!test
%! [P, G] = TULM_computeFoldPenaltyGrad(v1, f1, vf1, 1);
%! assert(class(P), 'single');
%! assert(P, single(1.866025447845459));
%! a = single(0.57735026); b = single(-0.28867513);
%! assert(G, [a b b; b a b; b b a]);
%! TULM_computeFoldPenalty(v1, f1, vf1, 1);   % no output requested: P goes to ans
%! assert(ans, P);

%!test
%! [P, G, L] = TULM_computeLocalFoldPenaltyGrad(v1, f1, vf1, zeros(1, 0, 'int32'), 1);
%! assert(P, single(1.866025447845459));
%! assert(L, int32([1; 2; 3]));
%! [P, U, L] = TULM_computeLocalFoldPenaltyUmbrella(v1, f1, vf1, int32([2 1 1; 3 3 2]), int32(1), 1);
%! assert(U, single([1 -0.5 -0.5; -0.5 1 -0.5; -0.5 -0.5 1]));
%! [P, L] = TULM_computeLocalFoldPenalty(v1, int32([1; 3; 2]), vf1, int32(1), 1);
%! assert(P, single(0));
%! assert(size(L), [0 1]);

%!test
%! [P, G] = TULM_computeAreaChangePenaltyGrad(v1, int32([1; 3; 2]), vf1, single(0));
%! assert(P, single(0.75));
%! assert(G, single([0.99999994 -0.49999997 -0.49999997; -0.49999997 0.99999994 -0.49999997; ...
%!                   -0.49999997 -0.49999997 0.99999994]));
%! assert(TULM_computeAreaChangePenalty(v1, f1, vf1, single(0)), single(0.75));

%!function [v, f, VF, nb] = folded_icosphere(levels, stride, push = 1.5)
%! % An icosphere with every stride-th vertex pushed across its first neighbour, to push
%! % times the neighbour's position minus push - 1 times its own.
%! [v, f] = tulm_icosphere(levels);
%! V = int32(size(v, 2));
%! VF = reshape(TULM_convertFaces2FacesOfVert(f.', V), V, []).';
%! nb = reshape(TULM_convertFaces2VertNbors(f.', V), V, []).';
%! for p = 1:stride:double(V)
%!   v(:, p) = push * v(:, nb(1, p)) - (push - 1) * v(:, p);
%! end
%!endfunction

%!function [P, flipped] = fold_penalty_double(v, f, lambda)
%! % The fold penalty the plain way, in double.
%! p0 = double(v(:, f(1, :))); p1 = double(v(:, f(2, :))); p2 = double(v(:, f(3, :)));
%! n = cross(p1 - p0, p2 - p0, 1);
%! flipped = sum(n .* p0, 1) > 0;
%! P = sum(sqrt(sum(n(:, flipped) .^ 2, 1)) / 2 + lambda);
%!endfunction

%!test
%! % Unfold: step against the gradient, halving the step until the penalty drops. A correct
%! % gradient always admits such a step, and the penalty reaches 0 within a few steps when the
%! % folds lie apart (two folds that share vertices can trap plain descent in a fold of
%! % nonzero area, whatever the gradient).
%! [v, f, VF] = folded_icosphere(4, 53, 1.2);
%! lambda = 0.01;
%! [P, G] = TULM_computeFoldPenaltyGrad(v, f, VF, lambda);
%! [~, flipped] = fold_penalty_double(v, f, lambda);
%! assert(sum(flipped) > 20);
%! step = single(1);
%! for it = 1:20
%!   halvings = 0;
%!   while TULM_computeFoldPenalty(v - step * G, f, VF, lambda) >= P
%!     step = step / 2;
%!     halvings++;
%!     assert(halvings < 30, 'no descent along -G');
%!   end
%!   v = v - step * G;
%!   previous = P;
%!   [P, G] = TULM_computeFoldPenaltyGrad(v, f, VF, lambda);
%!   assert(P < previous);
%!   step = 2 * step;
%!   if P == 0, break; end
%! end
%! assert(P, single(0));
%! [~, flipped] = fold_penalty_double(v, f, lambda);
%! assert(sum(flipped), 0);
%! assert(all(G(:) == 0));

%!test
%! % The gradient against central differences of the double penalty, on every coordinate of
%! % the vertices of flipped faces.
%! [v, f, VF] = folded_icosphere(2, 17);
%! [P, G] = TULM_computeFoldPenaltyGrad(v, f, VF, 0.5);
%! [Pd, flipped] = fold_penalty_double(v, f, 0.5);
%! assert(double(P), Pd, 1e-5 * Pd);
%! involved = unique(f(:, flipped));
%! h = 1e-6;
%! for p = involved.'
%!   for i = 1:3
%!     plus = double(v); plus(i, p) += h;
%!     minus = double(v); minus(i, p) -= h;
%!     fd = (fold_penalty_double(plus, f, 0.5) - fold_penalty_double(minus, f, 0.5)) / (2 * h);
%!     assert(double(G(i, p)), fd, 1e-4);
%!   end
%! end

%!test
%! % Visiting every vertex, then only the involved ones, gives the full gradient to the bit.
%! [v, f, VF] = folded_icosphere(3, 29);
%! [P, G] = TULM_computeFoldPenaltyGrad(v, f, VF, 0);
%! [Pl, Gl, L] = TULM_computeLocalFoldPenaltyGrad(v, f, VF, [], 0);   % [] visits every vertex
%! [~, flipped] = fold_penalty_double(v, f, 0);
%! assert(sort(L), unique(f(:, flipped)));
%! assert(Gl, G);
%! assert(Pl, P, 1e-5 * P);
%! [Pi, Gi, Li] = TULM_computeLocalFoldPenaltyGrad(v, f, VF, L, 0);
%! assert(Gi, G);
%! assert(sort(Li), sort(L));
%! [Pu, U, Lu] = TULM_computeLocalFoldPenaltyUmbrella(v, f, VF, ...
%!     reshape(TULM_convertFaces2VertNbors(f.', int32(size(v, 2))), size(v, 2), []).', L, 0);
%! assert(Lu, Li);
%! assert(all(any(U(:, L) != 0, 1)));
%! others = setdiff(1:size(v, 2), L);
%! assert(all(all(U(:, others) == 0)));

%!test
%! % Signed areas computed here in single, in the same order, make the area change exactly 0.
%! [v, f, VF] = folded_icosphere(2, 13);
%! p0 = v(:, f(1, :)); e1 = v(:, f(2, :)) - p0; e2 = v(:, f(3, :)) - p0;
%! n = [e1(2, :) .* e2(3, :) - e1(3, :) .* e2(2, :);
%!      e1(3, :) .* e2(1, :) - e1(1, :) .* e2(3, :);
%!      e1(1, :) .* e2(2, :) - e1(2, :) .* e2(1, :)];
%! s = sqrt((n(1, :) .* n(1, :) + n(2, :) .* n(2, :)) + n(3, :) .* n(3, :)) * single(0.5);
%! d = (n(1, :) .* p0(1, :) + n(2, :) .* p0(2, :)) + n(3, :) .* p0(3, :);
%! s(d <= 0) = -s(d <= 0);
%! [P, G] = TULM_computeAreaChangePenaltyGrad(v, f, VF, s);
%! assert(P, single(0));
%! assert(all(G(:) == 0));
%! assert(TULM_computeAreaChangePenalty(v, f, VF, -s) > 0);

%!error <TULM_computeFoldPenaltyGrad: Vertices should be 3 dimensional> TULM_computeFoldPenaltyGrad(v1(1:2, :), f1, vf1, 1)
%!error <TULM_computeFoldPenalty: Faces should have three vertices> TULM_computeFoldPenalty(v1, f1(1:2), vf1, 1)
%!error <Vertices and VertexFaces should be the same number!> TULM_computeLocalFoldPenalty(v1, f1, vf1(1:2), int32(1), 1)
%!error <Input original areas vector wrong size!!!> TULM_computeAreaChangePenalty(v1, int32([1 1; 2 2; 3 3]), vf1, single([0; 0]))
%!error <TULM_computeLocalFoldPenaltyUmbrella: Wrong number of inputs!> TULM_computeLocalFoldPenaltyUmbrella(v1, f1, vf1, int32([2 1 1; 3 3 2]), int32(1))
%!error <Wrong number of inputs!> TULM_computeLocalFoldPenaltyUmbrella(v1, f1, vf1, int32([2 1 1; 3 3 2]), int32(1), 1, 1)
%!error <Four inputs required: vertices, faces, VertexFaces, offset> TULM_computeFoldPenaltyGrad(v1, f1, vf1)
%!error <Five inputs required: vertices, faces, VertexFaces, visit, offset> TULM_computeLocalFoldPenaltyGrad(v1, f1, vf1, int32(1))
%!error <vertices must be a single matrix \(got double\)> TULM_computeFoldPenaltyGrad(double(v1), f1, vf1, 1)
%!error <visit holds 4 at \(1, 1\), outside 1..3> TULM_computeLocalFoldPenaltyGrad(v1, f1, vf1, int32(4), 1)
%!error <faces holds 7 at \(3, 1\), outside 1..3> TULM_computeAreaChangePenaltyGrad(v1, int32([1; 2; 7]), vf1, single(0))

%!test
%! for name = {'TULM_computeFoldPenaltyGrad', 'TULM_computeFoldPenalty', ...
%!             'TULM_computeLocalFoldPenaltyGrad', 'TULM_computeLocalFoldPenalty', ...
%!             'TULM_computeLocalFoldPenaltyUmbrella', 'TULM_computeAreaChangePenaltyGrad', ...
%!             'TULM_computeAreaChangePenalty'}
%!   text = get_help_text(name{1});
%!   assert(strncmp(strtrim(text), name{1}, numel(name{1})), name{1});
%! end
