// The interface through which an editor panel hands a parameter stack to its owner.
#pragma once

struct QVXLParams;

class ParamsSubmitter {
public:
    virtual ~ParamsSubmitter() = default;
    // The panel changed `params` (or made it); the owner applies it.
    virtual void submitParams(QVXLParams* params) = 0;
};
