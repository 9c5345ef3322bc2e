#pragma once

#include "state/platform.h"

// The system's own owners and groups: on Unix the replaced file's owner and
// group are given to the written one where allowed; on Windows a new file's
// owner follows from the writer's rights, and nothing is carried over.
class SystemFileOwners : public FileOwners
{
public:
    void keepOwner(const QString &replaced, QFileDevice &written) override;
};
