% TULM_gaussianSmoothVertexData  One step of Gaussian smoothing of per-vertex data.
%
%   smoothed = TULM_gaussianSmoothVertexData(vertices, vertexNbors, data, s)
%
%   Replaces each vertex's data vector by a weighted mean of its own vector (weight 1) and
%   its neighbours' vectors (weight exp(-d2 / (2*s)), d2 the squared distance to the
%   neighbour). s acts as a variance: it divides d2 unsquared. With s <= 0 or NaN every
%   weight is 1 (the plain mean). All arithmetic is single precision; exp is rounded
%   correctly to single, so the weights are the same bits on every machine. Smooth
%   repeatedly by calling repeatedly.
%
%   Inputs
%     vertices     single, 3 x V (column form).
%     vertexNbors  int32, K x V (column form): column v lists the 1-based neighbours of
%                  vertex v; the list ends at the first entry below 1 (later slots are
%                  ignored). A neighbour listed twice counts twice.
%                  From TULM_convertFaces2VertNbors: vertexNbors = reshape(nbrs, V, []).';
%     data         single, D x V: one column of D values per vertex; D may be 1.
%     s            numeric scalar (any class), used as single.
%
%   Output
%     smoothed     single, D x V.
%
%   Errors
%     "Four inputs required: vertices (single, 3 x V), vertexNbors (int32, K x V), data (single, D x V), s (numeric scalar)"
%     "Vertices and vertexNbors should have the same size[2]!"
%     "Number of dimensions should be 3!"
%     "data not right size!"
%     "vertexNbors must be an int32 matrix (got double)", "vertexNbors holds 13 at (2, 5), outside 0..12", ...
%
%   Example
%     [vertices, faces] = tulm_icosphere(3);
%     V = int32(size(vertices, 2));
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%     data = single(randn(1, V));
%     for step = 1:5
%       data = TULM_gaussianSmoothVertexData(vertices, vertexNbors, data, 0.01);
%     end
%     var(data)
%
%   See also TULM_computeDiffDataVertex2Nbors, TULM_convertFaces2VertNbors.
