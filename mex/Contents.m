% TULM  Triangulated spherical meshes and k-d trees, as fast exact MEX plug-ins.
% Version 0.1.0 09-Dec-2026
%
% Connectivity
%   TULM_convertFaces2VertNbors          - Neighbour table of a triangle mesh.
%   TULM_convertFaces2FacesOfVert        - Faces-of-vertex table of a triangle mesh.
%   TULM_findNeighborhoodGivenRadius     - Vertices within a number of edges of a vertex.
%
% Measures and vertex data
%   TULM_calculateSurfaceArea            - Total surface area of a triangle mesh.
%   TULM_computeMeshFaceAreas            - Area of every face of a triangle mesh.
%   TULM_computeVertexDistSq2Nbors       - Squared distance from every vertex to its neighbours.
%   TULM_computeDiffDataVertex2Nbors     - Differences of per-vertex data along neighbour links.
%   TULM_gaussianSmoothVertexData        - One step of Gaussian smoothing of per-vertex data.
%
% Point location
%   TULM_findFaceAux                     - Face into which each point projects from the origin.
%   TULM_findNearestVertex               - A vertex near each point, by greedy descent.
%
% Fold penalties
%   TULM_computeFoldPenaltyGrad          - Penalty of the flipped faces, with its gradient.
%   TULM_computeFoldPenalty              - Penalty of the flipped faces of a mesh.
%   TULM_computeLocalFoldPenaltyGrad     - Fold penalty and gradient around a list of vertices.
%   TULM_computeLocalFoldPenalty         - Fold penalty around a list of vertices.
%   TULM_computeLocalFoldPenaltyUmbrella - Local fold penalty with umbrella vectors.
%   TULM_computeAreaChangePenaltyGrad    - Squared change of signed face areas, with gradient.
%   TULM_computeAreaChangePenalty        - Squared change of signed face areas.
%
% k-d tree
%   nearestPointSearch                   - Nearest reference point of every model point.
%   nearestIndexSearch                   - Row of the nearest reference point of every model point.
%   radiusPointSearch                    - Points of a kept tree within a distance of a point.
%
% Tables: the two builders return a V x K table flattened to one column; every other
% function takes tables K x V:  vertexNbors = reshape(TULM_convertFaces2VertNbors(F, V), V, []).'
% Vertex coordinates are single, indices int32 and 1-based, k-d tree data double.
% Type `help NAME` for any function.
