// Tests of this module are added with it.
