"""The Python side of the test-support library, for the tools that drive the
built programs: the benchmark and the identity check (bench/), the fault sweep
(scripts/) and the convert-trades test (cli/).

installations: an installation's files after testing/golden/, generated pairs
and whole-tree snapshots. crash_states: the target states a power cut could
leave during a run.

Each of those folders holds a link convert_tools -> ../testing/convert_tools,
so that a tool started as a script, from any folder, imports the package from
beside itself.
"""
