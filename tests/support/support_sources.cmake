# Shared test fixtures.
target_sources(test_support PRIVATE)
