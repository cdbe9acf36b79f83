function unfolding = demo_folding(mesh)
% DEMO_FOLDING  Unfold a perturbed icosphere with the fold penalties.
%   Takes the struct that demo_connectivity returns. Pushes a few vertices across a neighbour so
%   that faces flip, then steps against the gradient of the full penalty until no face is
%   flipped; then does the same with the local variant, visiting only the involved vertices;
%   and reports the area change penalty of the folded mesh against the original areas.
%   Returns the folded vertices, the vertices the full penalty unfolded them to, the pushed
%   vertices and the penalty and flipped faces after each step of the full penalty.
  printf('== Fold penalties\n');
  f = mesh.faces;
  VF = mesh.VertexFaces;
  V = size(mesh.vertices, 2);
  lambda = 0.001;                 % every flipped face costs at least this much
  pushed = 1:211:V;
  folded = mesh.vertices;
  for p = pushed
    folded(:, p) = 1.5 * folded(:, mesh.vertexNbors(1, p)) - 0.5 * folded(:, p);
  end
  printf('%d of %d vertices pushed across a neighbour: %d of %d faces flipped\n', ...
         numel(pushed), V, nnz(flipped_faces(folded, f)), size(f, 2));

  printf('full penalty, TULM_computeFoldPenaltyGrad (offset %g):\n', lambda);
  v = folded;
  [P, G] = TULM_computeFoldPenaltyGrad(v, f, VF, lambda);
  printf('  step %2d: P = %-10.6g flipped faces = %d\n', 0, P, nnz(flipped_faces(v, f)));
  history = [P nnz(flipped_faces(v, f))];   % penalty and flipped faces after each step
  step = single(1);
  for it = 1:30
    while TULM_computeFoldPenalty(v - step * G, f, VF, lambda) >= P && step > 1e-9
      step = step / 2;             % halve until the penalty drops
    end
    v = v - step * G;
    [P, G] = TULM_computeFoldPenaltyGrad(v, f, VF, lambda);
    printf('  step %2d: P = %-10.6g flipped faces = %-4d (step length %g)\n', it, P, ...
           nnz(flipped_faces(v, f)), step);
    history(end + 1, :) = [P nnz(flipped_faces(v, f))];
    step = 2 * step;
    if P == 0, break; end
  end
  unfolding = struct('folded', folded, 'unfolded', v, 'pushed', pushed, 'history', history);
  t_call = time_call(@() TULM_computeFoldPenaltyGrad(folded, f, VF, lambda));
  printf('  one call on the folded mesh: %.2f ms\n', 1000 * t_call);

  printf('local penalty, TULM_computeLocalFoldPenaltyGrad visiting the involved vertices:\n');
  % Only vertices with a non-zero gradient move, and all of them are in the visit list, so
  % every face that can flip during a step is seen again at the next call.
  v = folded;
  [~, visit] = TULM_computeLocalFoldPenalty(v, f, VF, [], lambda);
  t_call = time_call(@() TULM_computeLocalFoldPenaltyGrad(folded, f, VF, visit, lambda));
  n_first = numel(visit);
  [P, G, L] = TULM_computeLocalFoldPenaltyGrad(v, f, VF, visit, lambda);
  step = single(1);
  for it = 0:30
    printf('  step %2d: P = %-10.6g flipped faces = %-4d visited %d vertices\n', it, P, ...
           nnz(flipped_faces(v, f)), numel(visit));
    if P == 0, break; end
    while TULM_computeLocalFoldPenalty(v - step * G, f, VF, visit, lambda) >= P && step > 1e-9
      step = step / 2;
    end
    v = v - step * G;
    step = 2 * step;
    visit = unique([visit; L]);
    [P, G, L] = TULM_computeLocalFoldPenaltyGrad(v, f, VF, visit, lambda);
  end
  printf('  one call visiting the %d involved vertices: %.2f ms; whole mesh after unfolding: P = %g\n', ...
         n_first, 1000 * t_call, TULM_computeFoldPenalty(v, f, VF, lambda));

  original = signed_areas(mesh.vertices, f);
  [P, G] = TULM_computeAreaChangePenaltyGrad(folded, f, VF, original);
  t_call = time_call(@() TULM_computeAreaChangePenaltyGrad(folded, f, VF, original));
  printf(['area change against the original signed areas, TULM_computeAreaChangePenaltyGrad:\n' ...
          '  folded mesh P = %.6g (|G| = %.4g, %.2f ms); unfolded mesh P = %.6g; ' ...
          'original mesh P = %g\n\n'], P, norm(G(:)), 1000 * t_call, ...
         TULM_computeAreaChangePenalty(v, f, VF, original), ...
         TULM_computeAreaChangePenalty(mesh.vertices, f, VF, original));
end

function t = time_call(fn)
  % The fastest of a few calls, each with both outputs.
  t = Inf;
  for k = 1:5
    tic;
    [~, ~] = fn();
    t = min(t, toc);
  end
end

function s = signed_areas(v, f)
  % The signed area of every face in single, evaluated in the toolbox's order.
  p0 = v(:, f(1, :));
  e1 = v(:, f(2, :)) - p0;
  e2 = v(:, f(3, :)) - p0;
  n = [e1(2, :) .* e2(3, :) - e1(3, :) .* e2(2, :);
       e1(3, :) .* e2(1, :) - e1(1, :) .* e2(3, :);
       e1(1, :) .* e2(2, :) - e1(2, :) .* e2(1, :)];
  s = sqrt((n(1, :) .* n(1, :) + n(2, :) .* n(2, :)) + n(3, :) .* n(3, :)) * single(0.5);
  d = (n(1, :) .* p0(1, :) + n(2, :) .* p0(2, :)) + n(3, :) .* p0(3, :);
  s(d <= 0) = -s(d <= 0);
end
