// Keeps the code that every frame runs together.
//
// A host that pauses between frames calls `process` with none of the
// plug-in in its caches or its address translations, and each page of code
// the call passes through costs a walk of the page tables from memory before
// its first instruction runs, one after the other. Spread over the module by
// source file, the steady frame's few kilobytes of code cross a dozen pages;
// gathered into one section, a handful. The linker sorts the sections named
// ".text$..." by name into the module's code, so everything marked with
// HORAVEL_FRAME_CODE lands side by side. Elsewhere the mark does nothing.
#pragma once

#if defined(_WIN32) && defined(__GNUC__)
#define HORAVEL_FRAME_CODE __attribute__((section(".text$0frame")))
#else
#define HORAVEL_FRAME_CODE
#endif
