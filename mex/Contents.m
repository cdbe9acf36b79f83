% TULM  Triangulated spherical meshes and k-d trees, as fast exact MEX plug-ins.
%
% Connectivity
%   TULM_convertFaces2VertNbors       - Neighbour table of a triangle mesh.
%   TULM_convertFaces2FacesOfVert     - Faces-of-vertex table of a triangle mesh.
%
% Tables: the two builders return a V x K table flattened to one column; every other
% function takes tables K x V:  vertexNbors = reshape(TULM_convertFaces2VertNbors(F, V), V, []).'
% Vertex coordinates are single, indices int32 and 1-based, k-d tree data double.
% Type `help NAME` for any function.
