#include <algorithm>
#include <thread>
#include <vector>

#include "uhfctl/commands.hpp"

namespace uhfctl {

int open_session(const Context& ctx, Session& session, bool sim_when_unnamed) {
    const ReaderOptions& o = ctx.inv.reader;
    if (o.sim) session.sim = std::make_unique<SimHost>(o.addr, o.sim_tags, o.sim_seed);
    std::vector<Target> named = targets(o, session.sim.get());
    if (named.empty()) {
        if (!sim_when_unnamed) throw UsageError("no reader named: use --device DEVICE, --usb, --port N or --sim");
        session.sim = std::make_unique<SimHost>(o.addr, o.sim_tags, o.sim_seed);
        named = targets(o, session.sim.get());
    }
    return Readers::open(o, ctx.out, named, session.readers);
}

int for_each_reader(const Context& ctx, Session& session, const std::function<int(Reader&, Output&)>& work) {
    std::vector<Reader>& all = session.readers.all();
    if (all.size() == 1) return work(all[0], ctx.out);
    std::vector<int> status(all.size(), kExitOk);
    std::vector<std::unique_ptr<Output>> outs;
    for (std::size_t i = 0; i < all.size(); ++i) outs.push_back(std::make_unique<Output>(ctx.out.json(), Output::Held{}));
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < all.size(); ++i)
            threads.emplace_back([&, i] { status[i] = work(all[i], *outs[i]); });
    }
    for (auto& o : outs) o->flush_into(ctx.out);
    return *std::max_element(status.begin(), status.end());
}

}  // namespace uhfctl
