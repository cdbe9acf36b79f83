function flipped = flipped_faces(v, f)
% FLIPPED_FACES  Faces whose normal points away from the origin, tested in double; faces of
%   (near) zero area count as not flipped. Returns a 1 x F logical.
  p0 = double(v(:, f(1, :)));
  nrm = cross(double(v(:, f(2, :))) - p0, double(v(:, f(3, :))) - p0, 1);
  flipped = sum(nrm .* p0, 1) > 0 & sqrt(sum(nrm .^ 2, 1)) / 2 > 1e-7;
end
