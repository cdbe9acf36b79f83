/* Stand-in for MATLAB's mex.h: the gateway prototype and the mex functions that TULM's
 * plug-ins use, with MATLAB's names and signatures. */
#ifndef TULM_MEXHOST_MEX_H
#define TULM_MEXHOST_MEX_H

#include "matrix.h"

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

/* Ends the call with the message; never returns to the plug-in. */
void mexErrMsgTxt(const char* text);
/* The same with an identifier; the message is a printf format. */
void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);
void mexWarnMsgTxt(const char* text);
int mexPrintf(const char* format, ...);
/* Registers the function the host calls before it unloads the plug-in (clear, exit). */
int mexAtExit(void (*exitFunction)(void));
/* Whether the user has pressed Ctrl-C: MATLAB's libut has it, in none of MATLAB's headers;
 * here the test decides (mexhost::interrupt_at_poll). */
bool utIsInterruptPending(void);

#ifdef __cplusplus
}
#endif

#endif /* TULM_MEXHOST_MEX_H */
