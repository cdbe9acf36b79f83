function files = demo_pictures(mesh, noisy, smoothed, unfolding, folder)
% DEMO_PICTURES  The demo's two pictures, as PNG files in folder: the data on the sphere before
%   and after smoothing (a longitude-latitude map), and the fold penalty and the number of
%   flipped faces at each unfolding step.
  if ! exist(folder, 'dir')
    mkdir(folder);
  end
  % Octave's own toolkits need a display; gnuplot draws without one.
  warning('off', 'Octave:gnuplot-graphics');
  graphics_toolkit('gnuplot');
  folder = canonicalize_file_name(folder);
  files = {fullfile(folder, 'smoothing.png'), fullfile(folder, 'unfolding.png')};

  % Each pixel of a longitude-latitude map shows the value at its nearest vertex, found with
  % the toolbox's own k-d tree.
  [longitude, latitude] = meshgrid(-179.5:179.5, 89.5:-1:-89.5);
  pixels = [cosd(latitude(:)) .* cosd(longitude(:)), cosd(latitude(:)) .* sind(longitude(:)), ...
            sind(latitude(:))];
  nearest = nearestIndexSearch(double(mesh.vertices).', pixels);
  figure('visible', 'off', 'position', [0 0 1000 360]);
  limits = [min(double(noisy)) max(double(noisy))];
  titles = {'noisy data', 'after 5 steps of TULM_gaussianSmoothVertexData'};
  values = {noisy, smoothed};
  for k = 1:2
    subplot(1, 2, k);
    imagesc([-180 180], [90 -90], reshape(double(values{k}(nearest)), size(longitude)), limits);
    axis('xy');
    xlabel('longitude (degrees)');
    ylabel('latitude (degrees)');
    title(titles{k}, 'interpreter', 'none');
  end
  colorbar();
  print('-dpng', '-r80', files{1});
  close();

  figure('visible', 'off', 'position', [0 0 700 420]);
  steps = 0:size(unfolding, 1) - 1;
  [axes_, penalty, flipped] = plotyy(steps, unfolding(:, 1), steps, unfolding(:, 2));
  set([penalty flipped], 'marker', 'o');
  xlabel('unfolding step');
  ylabel(axes_(1), 'fold penalty P');
  ylabel(axes_(2), 'flipped faces');
  title('unfolding along -G of TULM_computeFoldPenaltyGrad', 'interpreter', 'none');
  print('-dpng', '-r80', files{2});
  close();
end
