// A Trillium ad list served as JSON ("getads?"): the answer must be a JSON
// object, which goes whole to didReceiveJson:. The base reports the load as
// finished; subclasses (native ads) build their records and report themselves.
#pragma once

#include "Trillium/TRAAd.h"

class TRAJsonAd : public TRAAd {
public:
    Ref<TRAJsonAd> init() { return self<TRAJsonAd>(); }
    virtual void didReceiveJson(const Value& json);

protected:
    std::string adRequestPath() const override;
    void didReceiveAnswer(const std::string& body) override;
};
