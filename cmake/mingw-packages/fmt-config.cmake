# Placeholder for the cross build of the Windows programs, which do not use fmt.
set(fmt_FOUND TRUE)
