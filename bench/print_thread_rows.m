function print_thread_rows(cases, reps, width)
% PRINT_THREAD_ROWS  One row per case {name, vectorised, plug-in, streaming floor}: the four
%   called in turn reps times (alternate_calls), the plug-in once on one thread and once on all
%   (TULM_NUM_THREADS), with their wall-time medians in ms and the ratios; names in width
%   columns. A fifth entry, the dimensions of the plug-in's single output, adds
%   zeros(dims, 'single') to the calls, the way the plug-ins create an output of 1 MiB or more:
%   a cost that Octave runs on the calling thread alone, whatever the thread count. With it
%   comes the most that all threads can gain over one when the rest of the call shares out
%   perfectly, 1t / (create + (1t - create) / threads).
  all = nproc();
  created = columns(cases) >= 5;
  printf('%-*s %10s %10s %10s %10s %8s %8s %8s', width, 'operation', 'vectorised', ...
         '1 thread', sprintf('%d threads', all), 'floor', 'vec/1t', '1t/all', '1t/floor');
  if created
    printf(' %8s %8s', 'create', 'bound');
  end
  printf('\n');
  allText = num2str(all);
  for c = 1:rows(cases)
    [vec, mine, floor] = cases{c, 2:4};
    one = @() with_threads('1', mine);
    every = @() with_threads(allText, mine);
    calls = {vec, one, every, floor};
    if created
      dims = double(cases{c, 5});
      calls{end + 1} = @() zeros(dims, 'single');
    end
    t = alternate_calls(calls, reps);
    printf('%-*s %10.3f %10.3f %10.3f %10.3f %7.1fx %7.2fx %7.2fx', width, cases{c, 1}, t(1:4), ...
           t(1) / t(2), t(2) / t(3), t(2) / t(4));
    if created
      printf(' %8.3f %7.2fx', t(5), t(2) / (t(5) + (t(2) - t(5)) / all));
    end
    printf('\n');
  end
end

% count as text: num2str takes longer than the smallest plug-in calls.
function varargout = with_threads(count, f)
  setenv('TULM_NUM_THREADS', count);
  [varargout{1:nargout}] = f();
end
