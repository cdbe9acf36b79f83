function print_thread_rows(cases, reps, width)
% PRINT_THREAD_ROWS  One row per case {name, vectorised, plug-in, streaming floor}: the four
%   called in turn reps times (alternate_calls), the plug-in once on one thread and once on all
%   (TULM_NUM_THREADS), with their wall-time medians in ms and the ratios; names in width
%   columns.
  all = nproc();
  printf('%-*s %10s %10s %10s %10s %8s %8s %8s\n', width, 'operation', 'vectorised', ...
         '1 thread', sprintf('%d threads', all), 'floor', 'vec/1t', '1t/all', '1t/floor');
  allText = num2str(all);
  for c = 1:rows(cases)
    [vec, mine, floor] = cases{c, 2:4};
    one = @() with_threads('1', mine);
    every = @() with_threads(allText, mine);
    t = alternate_calls({vec, one, every, floor}, reps);
    printf('%-*s %10.3f %10.3f %10.3f %10.3f %7.1fx %7.2fx %7.2fx\n', width, cases{c, 1}, t, ...
           t(1) / t(2), t(2) / t(3), t(2) / t(4));
  end
end

% count as text: num2str takes longer than the smallest plug-in calls.
function varargout = with_threads(count, f)
  setenv('TULM_NUM_THREADS', count);
  [varargout{1:nargout}] = f();
end
