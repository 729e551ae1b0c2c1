/* What the sample application shows to those who check on it (tests, people
   trying the setup program): its window class, its command-line switches and
   the file in which it notes every start. */
#ifndef QUENTAR_SAMPLE_H
#define QUENTAR_SAMPLE_H

/* The class of its main window, whose title is "Quentar <version>". */
#define QUENTAR_SAMPLE_WINDOW_CLASS L"QuentarSampleWindow"

/* "/selfupdate:<path of a newer Setup.exe>": once its window is up, the
   application starts that setup program as its updater with "/update:",
   "/wh:<its window handle in decimal>" and "/exe:<its own full path>". The
   menu command File > Update does the same with a program the user picks.
   When this executable is running already, the request goes to the running
   instance (WM_COPYDATA), which starts the updater, and the new start ends. */
#define QUENTAR_SAMPLE_UPDATE_SWITCH L"/selfupdate:"

/* "/uninstall": removes the installation that its uninstall record (found by
   the application's own folder) describes, after a confirmation that
   "/quiet" skips. Exit code 0 when removed, 1 when no record was found or the
   record could not be deleted, 2 when the user declined. */
#define QUENTAR_SAMPLE_UNINSTALL_SWITCH L"/uninstall"
#define QUENTAR_SAMPLE_QUIET_SWITCH L"/quiet"

/* Every start with a window appends one line, in UTF-8, to
   <common application data>\Quentar samples\Quentar starts.txt:
   version, TAB, full path of the executable, TAB, working folder, CR LF. */
#define QUENTAR_SAMPLE_MARKER_FOLDER L"Quentar samples"
#define QUENTAR_SAMPLE_START_MARKER L"Quentar starts.txt"

#endif
