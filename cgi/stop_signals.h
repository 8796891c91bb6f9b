// Termination signals asked of a running conversion: the trade in hand is
// finished first.
#ifndef CONVERT_CGI_STOP_SIGNALS_H_
#define CONVERT_CGI_STOP_SIGNALS_H_

// Makes SIGTERM, SIGHUP and SIGINT only note that the run should stop.
void installStopHandlers();

// True once one of those signals has arrived.
bool isStopRequested();

#endif  // CONVERT_CGI_STOP_SIGNALS_H_
