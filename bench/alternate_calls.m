function t = alternate_calls(fs, reps)
% ALTERNATE_CALLS  Median wall times in ms of the functions fs, called in turn reps times after
%   one call each, so that drift of a shared machine hits every function alike. Every other
%   round runs them in reverse order: a call leaves the caches, and the memory it freed, to the
%   next one, and in a fixed order each function would always inherit the same neighbour's.
  times = zeros(reps, numel(fs));
  for k = 1:numel(fs)
    fs{k}();
  end
  for r = 1:reps
    order = 1:numel(fs);
    if mod(r, 2) == 0
      order = fliplr(order);
    end
    for k = order
      f = fs{k};
      start = tic();
      f();
      times(r, k) = 1000 * toc(start);
    end
  end
  t = median(times, 1);
end
