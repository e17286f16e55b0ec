#pragma once
// Across processes, against the registered server serving 10000 tags: the worst call of each
// interface that takes lists or strings that the server still answers, its time against the
// poll period, and the giant calls it refuses, with what each costs the server's memory and
// another client's GetStatus meanwhile. Returns non-zero when a call could not be made.
int MeasureCallBounds();
