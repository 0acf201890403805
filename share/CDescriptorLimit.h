#pragma once

// How many files, connections included, the process may hold open at once.
class CDescriptorLimit {
public:
    // Raises the limit to the most the system lets this process have (the soft limit to the
    // hard one), so that the bounds the program keeps on its own fit in, and returns it.
    static int Raise();
    // The limit now in force; -1 where the system sets none that the program's bounds could
    // meet (Windows).
    static int Current();
};
