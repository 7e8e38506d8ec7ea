# Placeholder for the cross build of the Windows programs, which do not use CLI11.
set(CLI11_FOUND TRUE)
