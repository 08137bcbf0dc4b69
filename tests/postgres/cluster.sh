# Sourced by test.sh: postgres_cluster_start / postgres_cluster_stop.
postgres_cluster_start() { :; }
postgres_cluster_stop() { :; }
