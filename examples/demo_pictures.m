function files = demo_pictures(mesh, noisy, smoothed, unfolding, folder)
% DEMO_PICTURES  The demo's two pictures, as PNG files in folder: the data on the sphere before
%   and after smoothing, front and back; and the folded mesh, with a zoom on two folds before
%   and after unfolding.
%   The spheres are drawn pixel by pixel: each pixel looks at a point of the unit sphere, and
%   the toolbox's point location finds the mesh face there. gnuplot, the toolkit that draws
%   without a display, is far too slow for 81920 faces drawn as patches.
  if ! exist(folder, 'dir')
    mkdir(folder);
  end
  warning('off', 'Octave:gnuplot-graphics');
  graphics_toolkit('gnuplot');
  folder = canonicalize_file_name(folder);
  files = {fullfile(folder, 'smoothing.png'), fullfile(folder, 'unfolding.png')};
  smoothing_picture(files{1}, mesh, noisy, smoothed);
  unfolding_picture(files{2}, mesh, unfolding);
end

function smoothing_picture(file, mesh, noisy, smoothed)
  % Signed data around zero: blue below, white at zero, red above, on one scale for all four.
  map = interp1([0; 0.5; 1], [0.23 0.30 0.75; 0.97 0.97 0.97; 0.71 0.02 0.15], ...
                linspace(0, 1, 256).');
  limits = [-1.5 1.5];
  figure('visible', 'off', 'position', [0 0 820 840]);
  values = {noisy, smoothed};
  rowTitles = {'noisy data', 'after 5 steps of TULM_gaussianSmoothVertexData'};
  sides = {'front', 'back'};
  for column = 1:2
    [face, shade, cover] = faces_seen(mesh, view_frame(30 + 180 * (column - 1), 20), 300);
    for row = 1:2
      faceValue = mean(double(values{row}(mesh.faces(:, face))), 1);
      level = round(1 + 255 * (faceValue - limits(1)) / diff(limits));
      axes('position', [0.02 + 0.44 * (column - 1), 0.52 - 0.48 * (row - 1), 0.42, 0.4]);
      image(shaded_picture(map(min(max(level, 1), 256), :), shade, cover));
      axis('image', 'off');
      title(sprintf('%s, %s', rowTitles{row}, sides{column}), 'interpreter', 'none');
    end
  end
  % The colour bar gets an axes of its own, so that no picture shrinks to make room for it.
  axes('position', [0.9 0.3 0.01 0.4], 'visible', 'off');
  colormap(map);
  caxis(limits);
  set(colorbar(), 'position', [0.9 0.3 0.025 0.4]);
  print('-dpng', '-r80', file);
  close();
end

function unfolding_picture(file, mesh, unfolding)
  % Zoom on the two pushed vertices closest together, looking straight down on them.
  f = mesh.faces;
  pushed = double(mesh.vertices(:, unfolding.pushed));
  apart = sum((permute(pushed, [2 3 1]) - permute(pushed, [3 2 1])) .^ 2, 3);
  apart(1:size(apart, 1) + 1:end) = Inf;
  [~, pair] = min(apart(:));
  [i, j] = ind2sub(size(apart), pair);
  centre = (pushed(:, i) + pushed(:, j)) / 2;
  frame = view_frame(atan2d(centre(2), centre(1)), asind(centre(3) / norm(centre)));
  halfWidth = 0.05;

  figure('visible', 'off', 'position', [0 0 1200 440]);
  % At this size the folded sphere looks like the original one: its pixels take the faces of
  % the original mesh, red where the folded mesh flips them.
  flipped = flipped_faces(unfolding.folded, f);
  [face, shade, cover] = faces_seen(mesh, frame, 300);
  colour = repmat([0.8 0.85 0.95], numel(face), 1);
  colour(flipped(face), :) = repmat([0.9 0.1 0.05], nnz(flipped(face)), 1);
  axes('position', [0.01 0.05 0.3 0.8]);
  image(shaded_picture(colour, shade, cover));
  axis('image', 'off');
  hold('on');
  box = 150.5 + 149.5 * halfWidth * [-1 1 1 -1 -1];
  plot(box, box([2 3 4 5 1]), 'k', 'linewidth', 1.5);
  title(sprintf('folded mesh: %d of %d faces flipped (red)', nnz(flipped), numel(flipped)));

  meshes = {unfolding.folded, unfolding.unfolded};
  steps = rows(unfolding.history) - 1;
  titles = {'zoom on the box, folded', ...
            sprintf('after %d steps along -G of TULM_computeFoldPenaltyGrad', steps)};
  for k = 1:2
    % Faces near the window, flipped ones last so that they are drawn over those they overlap.
    xy = frame(:, 1:2).' * double(meshes{k});
    near = all(reshape(max(abs(xy(:, f))), 3, []) < 1.5 * halfWidth, 1) ...
           & sum(double(meshes{k}(:, f(1, :))) .* frame(:, 3)) > 0;
    flipped = flipped_faces(meshes{k}, f);
    shown = [find(near & ! flipped) find(near & flipped)];
    colour = repmat([0.8 0.85 0.95], numel(shown), 1);
    colour(flipped(shown), :) = repmat([0.9 0.1 0.05], nnz(flipped(shown)), 1);
    axes('position', [0.34 + 0.33 * (k - 1), 0.05, 0.3, 0.8]);
    patch('Faces', double(f(:, shown).'), 'Vertices', xy.', 'FaceVertexCData', colour, ...
          'FaceColor', 'flat', 'EdgeColor', [0.25 0.25 0.35]);
    axis('equal', 'off');
    axis(halfWidth * [-1 1 -1 1]);
    title(sprintf('%s: %d flipped', titles{k}, nnz(flipped(shown))), 'interpreter', 'none');
  end
  print('-dpng', '-r80', file);
  close();
end

function frame = view_frame(azimuth, elevation)
  % Columns: the viewer's right, up, and the direction toward the viewer, in mesh coordinates.
  toward = [cosd(elevation) * cosd(azimuth); cosd(elevation) * sind(azimuth); sind(elevation)];
  right = [-sind(azimuth); cosd(azimuth); 0];
  frame = [right cross(toward, right) toward];
end

function [face, shade, cover] = faces_seen(mesh, frame, n)
  % The face under each of n x n pixels of the unit sphere seen from far along frame(:, 3):
  % seeds from the k-d tree, then the face the line from the origin crosses. shade is a light
  % from the upper left; cover, the part of each pixel the sphere covers, smooths the outline.
  [x, y] = meshgrid(linspace(-1, 1, n), linspace(1, -1, n));
  r = sqrt(x .^ 2 + y .^ 2);
  inside = r < 1;
  cover = inside .* min(1, (1 - r) * (n - 1) / 2 + 0.5);
  seen = [x(inside) y(inside) sqrt(1 - r(inside) .^ 2)].';
  points = frame * seen;
  seed = int32(nearestIndexSearch(double(mesh.vertices).', points.').');
  face = TULM_findFaceAux(single(points), mesh.vertices, mesh.faces, mesh.vertexNbors, ...
                          mesh.VertexFaces, seed);
  light = [-0.5; 0.5; 0.7] / norm([-0.5; 0.5; 0.7]);
  shade = 0.45 + 0.55 * max(0, light.' * seen);
end

function picture = shaded_picture(colour, shade, cover)
  % An RGB image: the colour of each pixel's face, shaded, on white.
  inside = cover > 0;
  picture = ones(numel(cover), 3);
  picture(inside, :) = 1 - cover(inside) .* (1 - colour .* shade.');
  picture = reshape(picture, [size(cover) 3]);
end
