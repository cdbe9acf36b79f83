% tulm_demo.m: the toolbox on a generated icosphere, the way a spherical-registration user works.
% Run from the project root after building: octave-cli examples/tulm_demo.m (or `make demo`).
here = fileparts(mfilename('fullpath'));
addpath(fullfile(here, '..', 'build', 'octave'));
addpath(here);

printf('TULM demo on an icosphere (icosahedron subdivided 6 times)\n\n');
tic;
[vertices, faces] = tulm_icosphere(6);
printf('mesh: %d vertices, %d faces (%.0f ms to generate)\n\n', size(vertices, 2), ...
       size(faces, 2), 1000 * toc);

mesh = demo_connectivity(vertices, faces);
demo_measures(mesh);
demo_location(mesh);
demo_kdtree(mesh);
demo_folding(mesh);
