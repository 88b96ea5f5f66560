#ifndef QV_UPDATESERVER_SERVERANSWERS_H
#define QV_UPDATESERVER_SERVERANSWERS_H

#include "BuildCatalogue.h"

#include <map>
#include <string>

// The answer to one "/cgi/u" query: lines, the first "ok" on success or "error: <reason>" otherwise.
struct ServerAnswer {
    int status;
    std::string body;
};

// parameters: the decoded query (op, sn, bld, fp, ...). Questions the catalogue cannot answer get
// status 200 and an "error" line, as a refusal; broken catalogue files get 500; bad queries 400.
ServerAnswer AnswerQuery(const BuildCatalogue& catalogue,
                         const std::map<std::string, std::string>& parameters);

#endif
