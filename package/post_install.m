function post_install(desc)
% Moves every help file beside its plug-in: `help NAME` reads the help of a MEX function from
% NAME.m in the plug-in's own folder, while pkg puts .m files and .mex files in two folders.
  plugins = glob(fullfile(desc.archprefix, '*', '*.mex'));
  if isempty(plugins)
    return;
  end
  archdir = fileparts(plugins{1});
  for k = 1:numel(plugins)
    [~, name] = fileparts(plugins{k});
    help_file = fullfile(desc.dir, [name '.m']);
    if exist(help_file, 'file')
      movefile(help_file, archdir);
    end
  end
end
