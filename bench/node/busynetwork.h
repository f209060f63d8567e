#pragma once

// A busy node: hundreds of DHT peers in dozens of buckets, thousands of swarm peers. The node
// answers with these sizes and the benchmark checks that the windows show them all.
namespace BusyNetwork {
constexpr int kDhts = 2;
constexpr int kBuckets = 32;
constexpr int kPeersPerBucket = 20;
constexpr int kSwarmPeers = 5000;
constexpr int kAddrsPerPeer = 3;
constexpr int kWantlist = 200;
} // namespace BusyNetwork
