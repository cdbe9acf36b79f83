function t = alternate_calls(fs, reps)
% ALTERNATE_CALLS  Median wall times in ms of the functions fs, called in turn reps times after
%   one call each, so that drift of a shared machine hits every function alike.
  times = zeros(reps, numel(fs));
  for k = 1:numel(fs)
    fs{k}();
  end
  for r = 1:reps
    for k = 1:numel(fs)
      f = fs{k};
      start = tic();
      f();
      times(r, k) = 1000 * toc(start);
    end
  end
  t = median(times, 1);
end
