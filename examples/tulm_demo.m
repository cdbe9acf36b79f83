% tulm_demo.m: the toolbox on a generated icosphere, the way a spherical-registration user
% works: tables, areas and smoothing, ring neighbourhoods, locating the points of a rotated
% sphere, nearest vertices through a kept k-d tree, unfolding a perturbed mesh. Prints a report
% with the time of each step and writes two pictures into build/demo/.
% Run from the project root after building: octave-cli examples/tulm_demo.m (or `make demo`).
here = fileparts(mfilename('fullpath'));
addpath(fullfile(here, '..', 'build', 'octave'));
addpath(here);
started = tic;

printf('TULM demo on an icosphere (icosahedron subdivided 6 times)\n\n');
tic;
[vertices, faces] = tulm_icosphere(6);
printf('mesh: %d vertices, %d faces (%.0f ms to generate)\n\n', size(vertices, 2), ...
       size(faces, 2), 1000 * toc);

mesh = demo_connectivity(vertices, faces);
[noisy, smoothed] = demo_measures(mesh);
demo_location(mesh);
demo_kdtree(mesh);
unfolding = demo_folding(mesh);

pictures = demo_pictures(mesh, noisy, smoothed, unfolding, fullfile(here, '..', 'build', 'demo'));
printf('== Pictures\n%s\n%s\n\n', pictures{:});
printf('demo finished in %.1f s\n', toc(started));
