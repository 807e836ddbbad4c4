#pragma once

namespace quorvel {

// The application's two engines: queries and small operations go to the fast
// one; transfers, copies and the abort or resume of jobs to the slow one.
enum class CommTasks { fastTask, slowTask };

}  // namespace quorvel
