/* Planted by the tests beside a copy of a test program, under the name of
   one of Windows' own DLLs: a program that loads it looked in its own folder.
   It holds nothing. */
int pelmora_planted_dll;
