#include "movie_composer.h"

// Placeholder until the pipeline lands.
MovieCompositionOutcome MovieComposer::compose(const QString&, const QString&,
                                               const MovieCompositionSettings&, const Callbacks&,
                                               const std::atomic<bool>*)
{
    return {MovieCompositionOutcome::Kind::failed, MovieCompositionOutcome::Stage::source,
            QStringLiteral("not built yet")};
}
