function bench_table_scaling(levels, runs)
% BENCH_TABLE_SCALING  Both table builders on large icospheres, each alternated in one
% process with creating and filling its output in Octave (zeros of the same size and class,
% then one write per element): the time per vertex of each, and the builder's ratio to the
% fill, which stays near 1 when the builder scales linearly.
%   bench_table_scaling() runs icospheres 8 and 9, 9 runs each; both arguments are optional.
  if nargin < 1
    levels = [8 9];
  end
  if nargin < 2
    runs = 9;
  end
  printf('%-32s %5s %10s %10s %10s %10s %6s\n', 'table (median of alternated runs)', ...
         'level', 'plug-in', 'per vertex', 'fill', 'per vertex', 'ratio');
  for level = levels
    [~, faces] = tulm_icosphere(level);
    rowFaces = faces.';
    clear faces;
    V = int32(max(rowFaces(:)));
    builders = {'TULM_convertFaces2VertNbors', 'TULM_convertFaces2FacesOfVert'};
    for b = 1:numel(builders)
      builder = str2func(builders{b});
      entries = numel(builder(rowFaces, V));
      [t, tFill] = alternated_times(@() builder(rowFaces, V), @() filled_zeros(entries), runs);
      perVertex = 1e9 / double(V);
      printf('%-32s %5d %7.1f ms %7.1f ns %7.1f ms %7.1f ns %5.2fx\n', builders{b}, level, ...
             1000 * t, t * perVertex, 1000 * tFill, tFill * perVertex, t / tFill);
    end
  end
  printf('target: ratio <= 2\n');
end

function table = filled_zeros(entries)
  table = zeros(entries, 1, 'int32');
  table(:) = 1;
end

function [t, tOther] = alternated_times(f, other, runs)
  times = zeros(runs, 2);
  f();
  other();
  for r = 1:runs
    tic;
    out = f();
    times(r, 1) = toc;
    clear out;
    tic;
    out = other();
    times(r, 2) = toc;
    clear out;
  end
  t = median(times(:, 1));
  tOther = median(times(:, 2));
end
