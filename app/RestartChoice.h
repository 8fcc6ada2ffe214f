#pragma once
// The restart an installation needs to finish (3010, 3011), once the setup
// window is gone. A person is asked first and may say no; a quiet or
// passive run, or one nobody can see, restarts without asking, as an
// unattended installer does. A run asked not to restart (/norestart) never comes here.
// True when the restart was asked for and the system took the request.
bool RestartWhenAllowed();
