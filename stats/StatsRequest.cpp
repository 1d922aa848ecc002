#include "stats/StatsRequest.h"

#include "stats/ClientIdStore.h"
#include "stats/StatsSender.h"
#include "stats/StatsUrl.h"

#include <utility>

StatsRequest::StatsRequest() : url_(StatsEndpoint())
{
    url_ += IdentifierPiece(GetClientId());
}

StatsRequest::~StatsRequest()
{
    QueueStatsEvent(std::move(url_));
}

void StatsRequest::AddParam(const WideString& key, const WideString& value)
{
    url_ += ParamPiece(key, value);
}
