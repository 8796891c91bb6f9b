// Termination signals asked of a running conversion: the trade in hand is
// finished first.
#ifndef CONVERT_CONVERSION_STOP_SIGNALS_H_
#define CONVERT_CONVERSION_STOP_SIGNALS_H_

// Makes SIGTERM, SIGHUP, SIGINT and SIGXCPU only note that the run should
// stop; one that the process was started with ignored stays ignored.
void installStopHandlers();

// True once one of those signals has arrived.
bool isStopRequested();

// The number of the signal that asked for the stop, or 0.
int stopSignal();

// "SIGINT", and "interrupted (Ctrl-C)" and the like, for a stop signal.
const char* stopSignalName(int signal);
const char* stopSignalWords(int signal);

#endif  // CONVERT_CONVERSION_STOP_SIGNALS_H_
