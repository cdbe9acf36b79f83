% k-d tree plug-ins in a real Octave: ans, messages as users see them, handles across plug-ins.

%!function message = lasterr_of(f)
%!  message = '';
%!  try
%!    f();
%!  catch err
%!    message = err.message;
%!  end
%!endfunction

%!shared six
%! six = [2 3; 5 4; 9 6; 4 7; 8 1; 7 2];

%!test
%! [P, D] = nearestPointSearch(six, [6 3; 9 2]);
%! assert(P, [5 4; 8 1]);
%! assert(D, [sqrt(2); sqrt(2)]);
%! [I, D] = nearestIndexSearch([0; 2; 4], [3; 1]);
%! assert(I, [3; 1]);
%! assert(D, [1; 1]);
%! assert(nearestIndexSearch([0 0; 1 0; 0 1; 1 1], [0.5 0.5]), 2);

%!test
%! nearestIndexSearch([1; 1], 1);   % no output requested: the result goes to ans
%! assert(ans, 2);

%!test
%! % a model row with NaN has no match
%! [P, D] = nearestPointSearch(six, [NaN 1]);
%! assert(P, [-1 -1]);
%! assert(D, 0);
%! assert(nearestIndexSearch(six, [1 NaN; 9 2]), [0; 5]);

%!test
%! [P, D] = nearestPointSearch(six, zeros(0, 2));
%! assert(size(P), [0 2]);
%! assert(size(D), [0 1]);

%!test
%! % built by one plug-in, searched by another, released by the third
%! [I, D, T] = nearestIndexSearch(six, [6 3]);
%! assert(I, 2);
%! [P, D, R] = radiusPointSearch(T, [5 4], 3);
%! assert(P, [7 2; 5 4]);
%! assert(D, [sqrt(8); 0]);
%! assert(R, [6; 2]);
%! [P, D, T2] = nearestPointSearch([], [9 2], T);
%! assert(T2, T);
%! assert(P, [8 1]);
%! assert(size(radiusPointSearch(T, [100 100], 1)), [0 2]);
%! P = nearestPointSearch(zeros(0, 5), [6 3], T);   % fewer than three outputs: released
%! assert(P, [5 4]);
%! assert(lasterr_of(@() radiusPointSearch(T, [5 4], 3)), ...
%!        'radiusPointSearch: First argument must be a valid pointer to a k-D tree');
%! assert(lasterr_of(@() nearestIndexSearch([], [5 4], T)), ...
%!        'nearestIndexSearch: Third argument is not a valid pointer to a k-D tree');

%!test
%! % an error leaves a kept tree alive
%! [~, ~, T] = nearestPointSearch(six, zeros(0, 2));
%! lasterr_of(@() nearestPointSearch([], [1 2 3], T));
%! assert(radiusPointSearch(T, [7 2], 0), [7 2]);
%! nearestPointSearch([], zeros(0, 2), T);

%!test
%! % a kept tree outlives unloading the plug-ins: the handle registry is per process
%! [~, ~, T] = nearestIndexSearch(six, zeros(0, 2));
%! clear nearestIndexSearch nearestPointSearch radiusPointSearch
%! assert(radiusPointSearch(T, [7 2], 0), [7 2]);
%! assert(nearestPointSearch([], [9 2], T), [8 1]);
%! assert(lasterr_of(@() nearestIndexSearch([], [9 2], T)), ...
%!        'nearestIndexSearch: Third argument is not a valid pointer to a k-D tree');

%!test
%! % a handle is looked up among the kept trees, never read as an address: neither a registry
%! % address forged into the environment (an earlier release read it there) nor a made-up
%! % handle, even one inside a live tree's memory, gets past the check
%! [~, ~, T] = nearestIndexSearch(six, zeros(0, 2));
%! unwind_protect
%!   setenv('TULM_KDTREE_REGISTRY', sprintf('%d:%x', getpid(), 4096));
%!   assert(lasterr_of(@() nearestIndexSearch(rand(10, 3), rand(2, 3), 12345)), ...
%!          'nearestIndexSearch: Third argument is not a valid pointer to a k-D tree');
%!   assert(lasterr_of(@() nearestPointSearch(six, [1 2], T + 16)), ...
%!          'nearestPointSearch: Third argument is not a valid pointer to a k-D tree');
%!   assert(lasterr_of(@() radiusPointSearch(T + 16, [7 2], 0)), ...
%!          'radiusPointSearch: First argument must be a valid pointer to a k-D tree');
%!   assert(radiusPointSearch(T, [7 2], 0), [7 2]);
%! unwind_protect_cleanup
%!   unsetenv('TULM_KDTREE_REGISTRY');
%!   nearestIndexSearch([], zeros(0, 2), T);
%! end_unwind_protect

%!test
%! % against brute force on integer points with many ties; the distance is exact
%! rand('seed', 3);
%! ref = floor(4 * rand(300, 3));
%! model = floor(8 * rand(100, 3)) / 2;
%! [I, D] = nearestIndexSearch(ref, model);
%! for i = 1:rows(model)
%!   d = sqrt(sum((ref - model(i, :)) .^ 2, 2));
%!   assert(D(i), min(d));
%!   assert(d(I(i)), min(d));
%! end

%!test
%! [~, ~, T] = nearestIndexSearch(rand(500, 3), zeros(0, 3));
%! q = [0.5 0.5 0.5];
%! [P, D, I] = radiusPointSearch(T, q, 0.2);
%! assert(D, sqrt(sum((P - q) .^ 2, 2)));
%! assert(all(D <= 0.2));
%! nearestIndexSearch([], zeros(0, 3), T);

%!error <nearestPointSearch: Must have at least two input arrays.> nearestPointSearch([1 2])
%!error <You have to supply some reference points to build a k-D tree.> nearestIndexSearch(zeros(0, 3), [1 2 3])
%!error <Reference and Model Vectors must be of the same dimension> nearestIndexSearch(six, [1 2 3])
%!error <Third argument is not a valid pointer to a k-D tree> nearestPointSearch(six, [1 2], 42)
%!error <reference must be a double matrix \(got single\)> nearestPointSearch(single(six), [1 2])
%!error <Must have at least 3 inputs \(ROOT, QUERYPT, DISTLIM\).> radiusPointSearch(1, 2)
%!error <First argument must be a valid pointer to a k-D tree> radiusPointSearch(12345, [1 2], 1)

%!test
%! [~, ~, T] = nearestPointSearch(six, zeros(0, 2));
%! assert(lasterr_of(@() radiusPointSearch(T, [1 2 3; 4 5 6], 1)), ...
%!        'radiusPointSearch: The dimension of the k-D tree (2) and queried point (3) do not match');
%! assert(lasterr_of(@() radiusPointSearch(T, [1 2; 3 4], 1)), ...
%!        'radiusPointSearch: Only one search may be performed. QUERYPT must be 1xD array');
%! assert(lasterr_of(@() radiusPointSearch(T, [1 2], -1)), ...
%!        'radiusPointSearch: Distance limit (DISTLIM) must be a scalar value >= 0.');
%! nearestPointSearch([], zeros(0, 2), T);

%!test
%! assert(! isempty(strfind(get_help_text('radiusPointSearch'), 'kept k-d tree')));
